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
        FitListToItems();
        QComboBox::showPopup();
    }
    // The list may be wider than the box, so that no name in it is cut.
    void FitListToItems();
};
