// Hard arguments installed under each init system come back unchanged: the
// systemd unit passes systemd-analyze verify and its ExecStart= line, read
// with systemd's rules, gives the arguments; the Upstart exec line and the
// SysV script, run by bash with a recording stand-in for the executable or
// for the functions library's `daemon`, hand over the same argument vector.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/service/service_sandbox.h"
#include "tests/support/test_support.h"

namespace {

using servicetest::InitSystem;
using servicetest::ServiceSandbox;

using servicetest::ProbeJar;

// The arguments, and the same as bash words for the install command.
const std::vector<std::string> kHardArguments = {"*.log", "50%", "a b", "$HOME", "x;y", "'q'", "\xc3\xa9", ""};
const char kHardArgumentWords[] = R"('*.log' '50%' 'a b' '$HOME' 'x;y' "'q'" 'é' '')";

std::vector<std::string> SplitNul(const std::string& text) {
    std::vector<std::string> out;
    std::string::size_type start = 0;
    for (std::string::size_type nul; (nul = text.find('\0', start)) != std::string::npos; start = nul + 1)
        out.push_back(text.substr(start, nul - start));
    return out;
}

// One command line of ExecStart= read as systemd reads it: specifiers are
// resolved on the whole line ("%%" is "%", any other specifier is an error
// here), the line is split into words with double and single quotes and C
// escapes, and "$$" in a word is a "$" (any other "$" would be a variable).
// Fails the test on anything this reading does not accept.
std::vector<std::string> ReadExecStart(const std::string& line) {
    std::string text;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '%') {
            text += line[i];
        } else if (i + 1 < line.size() && line[i + 1] == '%') {
            text += '%';
            ++i;
        } else {
            ADD_FAILURE() << "a specifier in " << line;
        }
    }
    std::vector<std::string> words;
    size_t i = 0;
    for (;;) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        if (i == text.size()) break;
        std::string word;
        char quote = 0;
        for (; i < text.size(); ++i) {
            char c = text[i];
            if (!quote && (c == ' ' || c == '\t')) break;
            if (c == '\\' && i + 1 < text.size()) {
                char e = text[++i];
                switch (e) {
                    case 'n': word += '\n'; break;
                    case 't': word += '\t'; break;
                    case '\\': case '"': case '\'': case ' ': word += e; break;
                    default: ADD_FAILURE() << "escape \\" << e << " in " << line; word += e;
                }
            } else if (!quote && (c == '"' || c == '\'')) {
                quote = c;
            } else if (quote && c == quote) {
                quote = 0;
            } else {
                word += c;
            }
        }
        EXPECT_EQ(quote, 0) << "unterminated quote in " << line;
        std::string unescaped;
        for (size_t k = 0; k < word.size(); ++k) {
            if (word[k] == '$') {
                EXPECT_TRUE(k + 1 < word.size() && word[k + 1] == '$') << "a variable in " << line;
                ++k;
            }
            unescaped += word[k];
        }
        words.push_back(unescaped);
    }
    return words;
}

struct QuotingRow {
    const char* what;
    InitSystem init;
};

class Quoting : public ::testing::TestWithParam<QuotingRow> {};

TEST_P(Quoting, HardArgumentsComeBackUnchanged) {
    const QuotingRow& row = GetParam();
    ServiceSandbox box(ProbeJar(), "probesvc");
    auto r = box.Run(std::string("run_exe install -install:manual ") + kHardArgumentWords + R"SH(
# From here on the executable only records the arguments it is given.
mv "$EXE" "$EXE.real"
printf '%s\n' '#!/bin/bash' 'printf "%s\0" "$@" > "$OUT/argv"' > "$EXE"; chmod 755 "$EXE"
if [ -f /lib/systemd/system/probesvc.service ]; then
  F=/lib/systemd/system/probesvc.service
  step verify systemd-analyze verify "$F"
  grep '^ExecStart=' "$F" | sed 's/^ExecStart=//' > "$OUT/execstart"
elif [ -f /etc/init/probesvc.conf ]; then
  step run bash -c "$(grep '^exec ' /etc/init/probesvc.conf)"
else
  # The functions library's daemon: records what it is given.
  printf '%s\n' 'daemon() { printf "%s\0" "$@" > "$OUT/argv"; }' > /etc/init.d/functions
  step syntax bash -n /etc/init.d/probesvc
  step run bash /etc/init.d/probesvc start
fi
exit 0
)SH",
                     row.init);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(box.Read("install.rc"), "0") << box.Read("install.out");

    std::vector<std::string> expected = kHardArguments;
    std::vector<std::string> got;
    if (row.init == InitSystem::SystemD) {
        EXPECT_EQ(box.Read("verify.rc"), "0") << box.Read("verify.err");
        std::string line = box.Read("execstart");
        ASSERT_FALSE(line.empty());
        line.pop_back();
        got = ReadExecStart(line);
        expected.insert(expected.begin(), {box.exe(), "--no-daemon"});
    } else {
        EXPECT_EQ(box.Read("run.rc"), "0") << box.Read("run.err");
        got = SplitNul(box.Read("argv"));
        if (row.init == InitSystem::UpStart) {
            expected.insert(expected.begin(), "--no-daemon");
        } else {
            EXPECT_EQ(box.Read("syntax.rc"), "0") << box.Read("syntax.err");
            expected.insert(expected.begin(), box.exe());
        }
    }
    EXPECT_EQ(got, expected);
}

INSTANTIATE_TEST_SUITE_P(InitSystems, Quoting,
                         ::testing::Values(QuotingRow{"SystemD", InitSystem::SystemD},
                                           QuotingRow{"UpStart", InitSystem::UpStart},
                                           QuotingRow{"SysV", InitSystem::SysV}),
                         [](const ::testing::TestParamInfo<QuotingRow>& info) { return std::string(info.param.what); });

}  // namespace
