// The editable port box: refills its items just before its list drops down.
#pragma once

#include <QComboBox>
#include <functional>

class TPortComboBox : public QComboBox {
public:
    using QComboBox::QComboBox;
    std::function<void()> OnDropDown;
    void showPopup() override {
        if (OnDropDown) OnDropDown();
        QComboBox::showPopup();
    }
};
