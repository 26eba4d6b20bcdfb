// The settings that become the unit's drop-in: which values are accepted,
// and the drop-in's exact text for them.
#include "service/systemd_dropin.h"

#include <gtest/gtest.h>

#include <string>

#include "service/service_logs.h"

namespace {

struct ParseRow {
    const char* user;
    const char* restart;
    const char* watchdog;
    const char* stop;
    const char* network;
    const char* ready;
    bool any;
    std::string problem;  // the start of the sentence, "" when accepted
};

TEST(SystemdOptions, AcceptsTheDocumentedValuesAndNamesWhatIsWrong) {
    const ParseRow rows[] = {
        {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, false, ""},
        {"", "", "", "", "", "", false, ""},
        {"tvxsvc", "on-failure", "10", "20", "true", "application", true, ""},
        {nullptr, "always", nullptr, nullptr, nullptr, nullptr, true, ""},
        {nullptr, "no", nullptr, nullptr, "false", "main", true, ""},
        {"svc user", nullptr, nullptr, nullptr, nullptr, nullptr, true, "serviceuser must"},
        {"-root", nullptr, nullptr, nullptr, nullptr, nullptr, true, "serviceuser must"},
        {"a$(id)", nullptr, nullptr, nullptr, nullptr, nullptr, true, "serviceuser must"},
        {nullptr, "sometimes", nullptr, nullptr, nullptr, nullptr, true, "servicerestart must"},
        {nullptr, "On-Failure", nullptr, nullptr, nullptr, nullptr, true, "servicerestart must"},
        {nullptr, nullptr, "0", nullptr, nullptr, nullptr, true, "servicewatchdog must"},
        {nullptr, nullptr, "10s", nullptr, nullptr, nullptr, true, "servicewatchdog must"},
        {nullptr, nullptr, "-1", nullptr, nullptr, nullptr, true, "servicewatchdog must"},
        {nullptr, nullptr, nullptr, "2147484", nullptr, nullptr, true, "stoptimeout must"},
        {nullptr, nullptr, nullptr, "99999999999", nullptr, nullptr, true, "stoptimeout must"},
        {nullptr, nullptr, nullptr, nullptr, "yes", nullptr, true, "servicenetwork must"},
        {nullptr, nullptr, nullptr, nullptr, nullptr, "later", true, "serviceready must"},
    };
    for (const ParseRow& row : rows) {
        SystemdOptions options;
        MyCString problem =
            ParseSystemdOptions(row.user, row.restart, row.watchdog, row.stop, row.network, row.ready, options);
        std::string text(problem.c_str(), problem.GetLength());
        EXPECT_EQ(options.any, row.any) << text;
        if (row.problem.empty())
            EXPECT_EQ(text, "");
        else
            EXPECT_EQ(text.substr(0, row.problem.size()), row.problem) << text;
    }
}

TEST(SystemdOptions, SecondsAreDigitsWithinRange) {
    const struct {
        const char* text;
        long seconds;
    } rows[] = {{nullptr, 0}, {"", 0}, {"1", 1}, {"90", 90}, {"2147483", 2147483}, {"0", -1}, {"2147484", -1},
                {"12345678", -1}, {" 5", -1}, {"5 ", -1}, {"+5", -1}, {"1e3", -1}};
    for (const auto& row : rows) EXPECT_EQ(ParseSeconds(row.text), row.seconds) << (row.text ? row.text : "null");
}

TEST(SystemdDropIn, EverySettingBecomesItsLine) {
    SystemdOptions options;
    ASSERT_EQ(std::string(ParseSystemdOptions("tvxsvc", "on-failure", "10", "20", "true", nullptr, options).c_str()),
              "");
    options.group = "tvxgrp";
    const char* owned[] = {"/var/run/app.pid", "/var/lock/app", "/srv/app.stderr.log"};
    ServiceScript text;
    int length = BuildDropInSystemD(text, options, owned, 3);
    EXPECT_EQ(std::string(text),
              "# Written by -install from the executable's settings; -uninstall removes it.\n"
              "[Unit]\n"
              "Wants=network-online.target\n"
              "After=network-online.target\n"
              "\n"
              "[Service]\n"
              "Type=notify\n"
              "NotifyAccess=main\n"
              "User=tvxsvc\n"
              "Group=tvxgrp\n"
              "ExecStartPre=+/bin/sh -c 'for f; do [ -L \"$$f\" ] || { touch \"$$f\" && chown tvxsvc:tvxgrp "
              "\"$$f\"; }; done' tvx-prepare /var/run/app.pid /var/lock/app /srv/app.stderr.log\n"
              "Restart=on-failure\n"
              "WatchdogSec=10\n"
              "TimeoutStopSec=20\n");
    EXPECT_EQ(length, static_cast<int>(std::string(text).size()));
}

TEST(SystemdDropIn, AServiceUsersStartupCacheGetsTheUnitsCacheDirectory) {
    SystemdOptions options;
    ASSERT_EQ(std::string(ParseSystemdOptions("tvxsvc", nullptr, nullptr, nullptr, nullptr, nullptr, options).c_str()),
              "");
    options.cacheDirectory = "app";
    ServiceScript text;
    BuildDropInSystemD(text, options, nullptr, 0);
    EXPECT_EQ(std::string(text),
              "# Written by -install from the executable's settings; -uninstall removes it.\n"
              "[Service]\n"
              "Type=notify\n"
              "NotifyAccess=main\n"
              "User=tvxsvc\n"
              "Group=tvxsvc\n"
              "CacheDirectory=app\n");
}

TEST(SystemdDropIn, ReadinessAloneIsTypeNotifyWithoutUnitSection) {
    SystemdOptions options;
    ASSERT_EQ(std::string(ParseSystemdOptions(nullptr, nullptr, nullptr, nullptr, "false", "application", options)
                              .c_str()),
              "");
    EXPECT_TRUE(options.applicationReady);
    ServiceScript text;
    BuildDropInSystemD(text, options, nullptr, 0);
    EXPECT_EQ(std::string(text),
              "# Written by -install from the executable's settings; -uninstall removes it.\n"
              "[Service]\n"
              "Type=notify\n"
              "NotifyAccess=main\n");
}

TEST(LogSettings, SizesAndCounts) {
    const struct {
        const char* text;
        long long bytes;
    } sizes[] = {{nullptr, 0},     {"", 0},         {"1024", 1024},          {"1K", 1024},  {"10k", 10240},
                 {"5M", 5242880}, {"2G", 2147483648LL}, {"1023", -1},     {"0", -1},     {"K", -1},
                 {"5MB", -1},     {"5 M", -1},     {"-5M", -1},             {"9999999999999", -1},
                 {"47130913095G", -1}, {"999999999999G", -1}, {"8589934591G", 9223372035781033984LL}};
    for (const auto& row : sizes) EXPECT_EQ(ParseLogSize(row.text), row.bytes) << (row.text ? row.text : "null");
    const struct {
        const char* text;
        int keep;
    } keeps[] = {{nullptr, kDefaultLogKeep}, {"", kDefaultLogKeep}, {"0", 0}, {"3", 3}, {"99", 99},
                 {"100", -1},                {"-1", -1},            {"x", -1}};
    for (const auto& row : keeps) EXPECT_EQ(ParseLogKeep(row.text), row.keep) << (row.text ? row.text : "null");
}

}  // namespace
