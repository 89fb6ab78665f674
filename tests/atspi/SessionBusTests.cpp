#include "Platform/backends/atspi/SessionBus.h"

#include <gtest/gtest.h>

namespace scrivlet::atspi {
namespace {

TEST(IntrospectionTest, TheDirectChildNodesAreNamed) {
    const std::string xml =
        R"(<!DOCTYPE node PUBLIC "-//freedesktop//DTD D-BUS Object Introspection 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd">
<node>
  <interface name="org.freedesktop.DBus.Introspectable"/>
  <node name="Dolphin_1"/>
  <node name="Dolphin_2"/>
</node>)";
    EXPECT_EQ(introspectedChildren(xml), (std::vector<std::string>{"Dolphin_1", "Dolphin_2"}));
    EXPECT_TRUE(introspectedChildren("<node></node>").empty());
    EXPECT_TRUE(introspectedChildren("<node name=\"unterminated").empty());
    EXPECT_TRUE(introspectedChildren("<node name=\"a/b\"/>").empty());
}

} // namespace
} // namespace scrivlet::atspi
