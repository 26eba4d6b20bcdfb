// Which base class-data archive a start's options make the runtime map.
#include "launch/base_archive.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char* NameFor(const std::vector<const char*>& options, const char* toolOptions = nullptr, bool lp64 = true) {
    BaseArchiveChoice choice;
    choice.ReadAll(toolOptions);
    for (const char* option : options) choice.Read(option);
    return choice.Name(lp64);
}

std::string Shown(const char* name) { return name ? name : "(none)"; }

TEST(BaseArchive, FollowsTheHeapLayoutTheOptionsAskFor) {
    struct Row {
        std::vector<const char*> options;
        const char* toolOptions;
        const char* name;
    } rows[] = {
        {{}, nullptr, "classes.jsa"},
        {{"-Xmx64m", "-Dx=-Xmx40g"}, nullptr, "classes.jsa"},
        {{"-Xmx31g"}, nullptr, "classes.jsa"},
        {{"-Xmx32700m"}, nullptr, "classes.jsa"},
        {{"-Xmx32736m"}, nullptr, "classes_nocoops.jsa"},  // keeps them, but near the limit: taken as without
        {{"-Xmx32g"}, nullptr, "classes_nocoops.jsa"},
        {{"-Xmx32752m"}, nullptr, "classes_nocoops.jsa"},
        {{"-Xmx40G"}, nullptr, "classes_nocoops.jsa"},
        {{"-Xmx1t"}, nullptr, "classes_nocoops.jsa"},
        {{"-Xmx34359738368"}, nullptr, "classes_nocoops.jsa"},
        {{"-Xmx99999999999999999999999g"}, nullptr, "classes.jsa"},  // no size: the runtime refuses it itself
        {{"-Xmx40x"}, nullptr, "classes.jsa"},
        {{"-Xms40g"}, nullptr, "classes_nocoops.jsa"},
        {{"-XX:MaxHeapSize=64g"}, nullptr, "classes_nocoops.jsa"},
        {{"-XX:InitialHeapSize=40g", "-Xmx1g"}, nullptr, "classes_nocoops.jsa"},
        {{"-XX:-UseCompressedOops"}, nullptr, "classes_nocoops.jsa"},
        {{"-XX:-UseCompressedOops", "-XX:+UseCompressedOops"}, nullptr, "classes.jsa"},
        {{"-XX:+UseCompressedOops", "-Xmx40g"}, nullptr, "classes_nocoops.jsa"},
        {{"-XX:+UseZGC"}, nullptr, "classes_nocoops.jsa"},
        {{"-XX:+UseZGC", "-XX:-UseZGC"}, nullptr, "classes.jsa"},
        {{"-XX:+UseZGCx"}, nullptr, "classes.jsa"},
        {{"-XX:+UseShenandoahGC"}, nullptr, "classes.jsa"},
        {{"-XX:+UseCompactObjectHeaders"}, nullptr, "classes_coh.jsa"},
        {{"-XX:+UseCompactObjectHeaders", "-XX:+UseZGC"}, nullptr, "classes_nocoops_coh.jsa"},
        {{"-XX:-UseCompressedClassPointers"}, nullptr, nullptr},
        {{"-XX:-UseCompressedClassPointers", "-XX:+UseCompressedClassPointers"}, nullptr, "classes.jsa"},
        // JAVA_TOOL_OPTIONS come first; the command line's options win.
        {{}, "-Xss1m  -XX:+UseZGC\t-Dy=1", "classes_nocoops.jsa"},
        {{"-XX:-UseZGC"}, "-XX:+UseZGC", "classes.jsa"},
        {{}, "-Xmx40g", "classes_nocoops.jsa"},
        {{}, "   ", "classes.jsa"},
    };
    for (const Row& row : rows) {
        std::string said;
        for (const char* option : row.options) said += std::string(option) + " ";
        SCOPED_TRACE(said + "| JAVA_TOOL_OPTIONS=" + (row.toolOptions ? row.toolOptions : ""));
        EXPECT_EQ(Shown(NameFor(row.options, row.toolOptions)), Shown(row.name));
    }
}

TEST(BaseArchive, A32BitRuntimeHasOneArchive) {
    EXPECT_EQ(Shown(NameFor({"-Xmx40g"}, nullptr, false)), "classes.jsa");
    EXPECT_EQ(Shown(NameFor({"-XX:-UseCompressedClassPointers"}, nullptr, false)), "classes.jsa");
}

}  // namespace
