// The values systemd and the settings hand the service code: a
// $NOTIFY_SOCKET address, $WATCHDOG_USEC and $WATCHDOG_PID, and the systemd
// and log settings. Any bytes give an address only of the two accepted
// forms, inside sun_path, and numbers only within their ranges; a number the
// harness writes reads back as itself, and the drop-in built from accepted
// options always fits and names each given option.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "service/service_logs.h"
#include "service/systemd_dropin.h"
#include "service/systemd_notify.h"
#include "tests/fuzz/support/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> fields = fuzzsupport::SplitInput(data, size, '\n');
    while (fields.size() < 7) fields.emplace_back();
    // Values stop at a NUL, as environment variables and settings lines do.
    for (std::string& f : fields) f = std::string(f.c_str());

    const std::string& address = fields[0];
    struct sockaddr_un un;
    socklen_t length = 0;
    if (NotifySocketAddress(address.c_str(), un, length)) {
        FUZZ_CHECK(address[0] == '/' || address[0] == '@', "accepted " + address);
        FUZZ_CHECK(length > offsetof(struct sockaddr_un, sun_path) && length <= sizeof un, "length");
        FUZZ_CHECK(un.sun_family == AF_UNIX, "family");
        if (address[0] == '@')
            FUZZ_CHECK(un.sun_path[0] == '\0' && memcmp(un.sun_path + 1, address.data() + 1, address.size() - 1) == 0,
                       "abstract name");
        else
            FUZZ_CHECK(strcmp(un.sun_path, address.c_str()) == 0, "path");
    }

    long seconds = ParseSeconds(fields[1].c_str());
    FUZZ_CHECK(seconds == -1 || (seconds >= 0 && seconds <= 2147483), "seconds " + fields[1]);
    long long bytes = ParseLogSize(fields[2].c_str());
    FUZZ_CHECK(bytes == -1 || bytes == 0 || bytes >= 1024, "size " + fields[2]);
    int keep = ParseLogKeep(fields[3].c_str());
    FUZZ_CHECK(keep >= -1 && keep <= 99, "keep " + fields[3]);
    if (size >= 4) {
        unsigned written = 1 + (data[0] | data[1] << 8 | data[2] << 16) % 2147483;
        FUZZ_CHECK(ParseSeconds(std::to_string(written).c_str()) == static_cast<long>(written), "written seconds");
    }

    setenv("WATCHDOG_USEC", fields[4].c_str(), 1);
    setenv("WATCHDOG_PID", fields[5].c_str(), 1);
    uint64_t usec = WatchdogIntervalUsec();
    // Accepted only as digits (leading zeros allowed) naming this process.
    const bool digits = !fields[4].empty() && fields[4].find_first_not_of("0123456789") == std::string::npos &&
                        !fields[5].empty() && fields[5].find_first_not_of("0123456789") == std::string::npos;
    FUZZ_CHECK(usec == 0 || (digits && strtoull(fields[5].c_str(), nullptr, 10) == static_cast<unsigned long long>(getpid()) &&
                             strtoull(fields[4].c_str(), nullptr, 10) == usec),
               "watchdog " + fields[4] + " / " + fields[5]);

    SystemdOptions options;
    MyCString problem = ParseSystemdOptions(fields[6].c_str(), fields[1].c_str(), fields[1].c_str(),
                                            fields[1].c_str(), fields[2].c_str(), fields[3].c_str(), options);
    if (problem.IsEmpty() && options.any) {
        ServiceScript text;
        int built = BuildDropInSystemD(text, options, nullptr, 0);
        FUZZ_CHECK(built > 0 && static_cast<size_t>(built) == strlen(text), "drop-in length");
        FUZZ_CHECK(strstr(text, "Type=notify\n") != nullptr, "type");
        if (!options.user.IsEmpty())
            FUZZ_CHECK(strstr(text, (std::string("User=") + fields[6] + "\n").c_str()) != nullptr, "user line");
        if (!options.restart.IsEmpty())
            FUZZ_CHECK(strstr(text, (std::string("Restart=") + fields[1] + "\n").c_str()) != nullptr, "restart");
    }
    return 0;
}
