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

// A plug-in not installed (or an older one) sends the reader to the items; a busy one does
// not, since reading the items would wait on the same busy process.
TEST(CallErrorTest, OnlyAMissingMethodMeansNotOffered) {
    for (const char* absent :
         {"org.freedesktop.DBus.Error.ServiceUnknown", "org.freedesktop.DBus.Error.NameHasNoOwner",
          "org.freedesktop.DBus.Error.UnknownObject", "org.freedesktop.DBus.Error.UnknownInterface",
          "org.freedesktop.DBus.Error.UnknownMethod", "org.freedesktop.DBus.Error.InvalidArgs"}) {
        EXPECT_TRUE(meansNotOffered(absent)) << absent;
    }
    for (const char* busy :
         {"org.freedesktop.DBus.Error.NoReply", "org.freedesktop.DBus.Error.Timeout",
          "org.freedesktop.DBus.Error.Disconnected", ""}) {
        EXPECT_FALSE(meansNotOffered(busy)) << busy;
    }
}

} // namespace
} // namespace scrivlet::atspi
