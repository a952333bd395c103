#include "app/port_names.h"

#include <gtest/gtest.h>

TEST(PortNames, DevicePathsShowShortAndEitherFormOpensTheSamePort) {
    EXPECT_EQ(PortShortName("/dev/ttyUSB0"), "ttyUSB0");
    EXPECT_EQ(PortShortName("/dev/pts/3"), "pts/3");
    EXPECT_EQ(PortShortName("/tmp/ttyA"), "/tmp/ttyA");
    EXPECT_EQ(PortShortName("COM1"), "COM1");
    EXPECT_EQ(PortShortName("/dev/COM2"), "/dev/COM2");  // would read back as ttyS1
    for (const char* path : {"/dev/ttyUSB0", "/dev/pts/3", "/tmp/ttyA", "COM1", "/dev/COM2"})
        EXPECT_EQ(PortPathFromText(PortShortName(path)), path);
    EXPECT_EQ(PortPathFromText(" ttyACM0 "), "/dev/ttyACM0");
    EXPECT_EQ(PortPathFromText("com12"), "com12");
    EXPECT_EQ(PortPathFromText("COMx"), "/dev/COMx");
    EXPECT_EQ(PortPathFromText(""), "");
}
