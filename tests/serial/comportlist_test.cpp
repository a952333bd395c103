#include "serial/comportlist.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/tty_ports.h"
#include "serial/lucomport.h"
#include "toolkit/messagebox.h"

namespace {

using Strings = std::vector<std::string>;

// A stand-in for /sys/class/tty with the kinds of entries a real machine has.
class TtyClassDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/ttyclassXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        Dir = tmpl;
        Entry("ttyUSB0", true);
        Entry("ttyACM10", true);
        Entry("ttyACM2", true);
        Entry("ttyS0", true, "4");  // a UART
        Entry("ttyS1", true, "0");  // a legacy slot without one
        Entry("ttyS2", true);       // no type: not known to be a port
        Entry("tty1", false);       // a virtual console
        Entry("ptmx", false);
    }
    void TearDown() override {
        SetTtyClassDir("/sys/class/tty");
        std::system(("rm -rf " + Dir).c_str());
    }
    void Entry(const std::string& name, bool device, const std::string& type = "") {
        const std::string e = Dir + "/" + name;
        mkdir(e.c_str(), 0755);
        if (device) mkdir((e + "/device").c_str(), 0755);
        if (!type.empty()) std::ofstream(e + "/type") << type << "\n";
    }
    std::string Dir;
};

}  // namespace

TEST(PortNameOrder, TextOrderAndNumericOrder) {
    Strings names{"COM3", "COM10"};
    SortPortNamesAsText(names);
    EXPECT_EQ(names, (Strings{"COM10", "COM3"}));
    SortPortNamesNumerically(names);
    EXPECT_EQ(names, (Strings{"COM3", "COM10"}));

    names = {"COM10", "COM2", "COM1"};
    SortPortNamesNumerically(names);
    EXPECT_EQ(names, (Strings{"COM1", "COM2", "COM10"}));

    names = {"/dev/ttyUSB10", "/dev/ttyacm0", "/dev/ttyUSB2", "/dev/ttyACM1"};
    SortPortNamesAsText(names);
    EXPECT_EQ(names, (Strings{"/dev/ttyacm0", "/dev/ttyACM1", "/dev/ttyUSB10", "/dev/ttyUSB2"}));
    SortPortNamesNumerically(names);
    EXPECT_EQ(names, (Strings{"/dev/ttyacm0", "/dev/ttyACM1", "/dev/ttyUSB2", "/dev/ttyUSB10"}));

    names = {"", "9", "COM"};
    SortPortNamesNumerically(names);
    EXPECT_EQ(names, (Strings{"", "9", "COM"}));
}

TEST_F(TtyClassDirTest, OnlyRealPortsAreListed) {
    Strings names;
    ASSERT_TRUE(ListTtyPorts(names, Dir));
    SortPortNamesAsText(names);
    EXPECT_EQ(names, (Strings{"/dev/ttyACM10", "/dev/ttyACM2", "/dev/ttyS0", "/dev/ttyUSB0"}));

    SetTtyClassDir(Dir);
    TStringList list;
    list.Add("old");
    ASSERT_TRUE(FillComPortList(list));
    EXPECT_EQ(list.Text(), "/dev/ttyACM2\r\n/dev/ttyACM10\r\n/dev/ttyS0\r\n/dev/ttyUSB0\r\n");

    TMessageRecorder boxes;
    TLuComPort port;
    EXPECT_EQ(&port.GetComPortList(), &port.GetComPortList());
    EXPECT_EQ(port.GetComPortList().Text(),
              "/dev/ttyACM10\r\n/dev/ttyACM2\r\n/dev/ttyS0\r\n/dev/ttyUSB0\r\n");
    EXPECT_TRUE(boxes.Shown.empty());
}

TEST_F(TtyClassDirTest, UnreadableListGivesTheMessageAndAnEmptyList) {
    SetTtyClassDir(Dir + "/missing");
    TMessageRecorder boxes;
    TLuComPort port;  // enumerates once at construction
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Text, "Problem with COM ports reg enumeration");
    EXPECT_EQ(port.GetComPortList().Count(), 0u);
    EXPECT_EQ(boxes.Shown.size(), 2u);

    TStringList list;
    list.Add("old");
    std::string error;
    EXPECT_FALSE(FillComPortList(list, &error));
    EXPECT_EQ(error, "Problem with COM ports reg enumeration");
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(boxes.Shown.size(), 2u);  // the numeric list reports quietly
}
