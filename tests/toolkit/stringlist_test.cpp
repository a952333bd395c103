#include "toolkit/stringlist.h"

#include <gtest/gtest.h>

TEST(StringList, SplitsAtEveryLineEnd) {
    TStringList l;
    l.SetText("a\rb\nc\r\nd");
    ASSERT_EQ(l.Count(), 4u);
    EXPECT_EQ(l[0], "a");
    EXPECT_EQ(l[3], "d");
    l.SetText("x\r\n\r\ny\r\n");
    ASSERT_EQ(l.Count(), 3u);
    EXPECT_EQ(l[1], "");
    EXPECT_EQ(l.Text(), "x\r\n\r\ny\r\n");
    l.SetText("");
    EXPECT_TRUE(l.Empty());
}

TEST(StringList, EditsKeepMarks) {
    TStringList l;
    l.Add("b", 2);
    l.Insert(0, "a", 1);
    l.Add("c");
    EXPECT_EQ(l.IndexOf("b"), 1);
    EXPECT_EQ(l.Mark(1), 2);
    l.Delete(0);
    EXPECT_EQ(l[0], "b");
    EXPECT_EQ(l.IndexOf("a"), -1);
    EXPECT_THROW(l.Delete(5), std::out_of_range);
    l.Add("a");
    l.Sort();
    EXPECT_EQ(l[0], "a");
    EXPECT_EQ(l.Mark(1), 2);
}
