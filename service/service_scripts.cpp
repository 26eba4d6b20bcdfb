// The systemd unit, Upstart job and SysV init script that register the
// launcher as a service, and the checks of what goes into them.
#include <stdio.h>
#include <string.h>

#include "service/service.h"

namespace {

// Unit and job end without a final newline; the init script ends with one.
const char kSystemDTemplate[] =
    "[Unit]\n"
    "Description=%s service\n"
    "After=network.target local-fs.target remote-fs.target\n"
    "\n"
    "[Service]\n"
    "ExecStart=%s --no-daemon %s\n"
    "SuccessExitStatus=143\n"
    "\n"
    "[Install]\n"
    "WantedBy=multi-user.target";

const char kUpStartTemplate[] =
    "description \"%s service\"\n"
    "\n"
    "start on runlevel [%s]\n"
    "stop on runlevel [!2345]\n"
    "\n"
    "exec %s --no-daemon %s";

const char kSysVTemplate[] =
    "#!/bin/bash\n"
    "#\n"
    "# chkconfig: %s %d %d\n"
    "# description: %s service\n"
    "#\n"
    "\n"
    "# Library\n"
    "if [ -f /etc/init.d/functions ]; then\n"
    "\t. /etc/init.d/functions\n"
    "elif [ -f /etc/rc.d/init.d/functions ]; then\n"
    "\t. /etc/rc.d/init.d/functions\n"
    "fi\n"
    "\n"
    "# Path\n"
    "prog=%s\n"
    "execbase=%s\n"
    "execpath=(\"${execbase}\" %s)\n"
    "pidfile=/var/run/${prog}.pid\n"
    "lockfile=/var/lock/subsys/${prog}\n"
    "\n"
    "RETVAL=0\n"
    "\n"
    "# Where that library is missing (Debian): the same three functions on\n"
    "# start-stop-daemon, each defined only when the library did not\n"
    "[ -d /var/lock/subsys ] || lockfile=/var/lock/${prog}\n"
    "declare -F daemon >/dev/null || daemon() {\n"
    "\tstart-stop-daemon --start --quiet --oknodo --pidfile \"$pidfile\" --exec \"$1\" -- \"${@:2}\"\n"
    "}\n"
    "declare -F killproc >/dev/null || killproc() {\n"
    "\tstart-stop-daemon --stop --quiet --oknodo --retry TERM/30/KILL/5 --pidfile \"$pidfile\" --exec \"$1\"\n"
    "}\n"
    "declare -F status >/dev/null || status() {\n"
    "\tlocal running\n"
    "\tstart-stop-daemon --status --pidfile \"$pidfile\" --exec \"$1\"\n"
    "\trunning=$?\n"
    "\tcase $running in\n"
    "\t0) echo \"$prog (pid $(cat \"$pidfile\" 2>/dev/null)) is running...\" ;;\n"
    "\t1) echo \"$prog dead but pid file exists\" ;;\n"
    "\t3) echo \"$prog is stopped\" ;;\n"
    "\t*) echo \"$prog status unknown\" ;;\n"
    "\tesac\n"
    "\treturn $running\n"
    "}\n"
    "\n"
    "# Service\n"
    "start() {\n"
    "\techo -n $\"Starting $prog: \"\n"
    "\tdaemon \"${execpath[@]}\"\n"
    "\tRETVAL=$?\n"
    "\techo\n"
    "\t[ $RETVAL = 0  ] && touch ${lockfile}\n"
    "\treturn $RETVAL\n"
    "}\n"
    "\n"
    "stop() {\n"
    "\techo -n $\"Stopping $prog: \"\n"
    "\tkillproc $execbase\n"
    "\tRETVAL=$?\n"
    "\techo\n"
    "\t[ $RETVAL = 0 ] && rm -f ${lockfile} ${pidfile}\n"
    "}\n"
    "\n"
    "# Call\n"
    "case \"$1\" in\n"
    "  start)\n"
    "\tstart\n"
    "\t;;\n"
    "  stop)\n"
    "\tstop\n"
    "\t;;\n"
    "  status)\n"
    "\tstatus $execbase\n"
    "\tRETVAL=$?\n"
    "\t;;\n"
    "  restart)\n"
    "\tstop\n"
    "\tstart\n"
    "\t;;\n"
    "  *)\n"
    "\techo $\"Usage: $prog {start|stop|restart|status}\"\n"
    "\tRETVAL=2\n"
    "esac\n"
    "\n"
    "exit $RETVAL\n";

// Length of the formatted text, or -1 with an emptied buffer when it was cut.
int Finish(ServiceScript& buffer, int written) {
    if (written < 0 || written >= kServiceScriptSize) {
        buffer[0] = '\0';
        return -1;
    }
    return written;
}

const char* Text(const char* s) { return s ? s : ""; }

// Name and path stand unquoted in the init script, inside double quotes in
// the commands, and on unit and job lines; only plain characters are let in.
bool IsPlainNameByte(unsigned char c) {
    if (c >= 0x80) return true;  // bytes of non-ASCII names
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return c != '\0' && strchr("._-+,:=@", c) != nullptr;
}

}  // namespace

int BuildScriptSystemD(ServiceScript& buffer, const char* name, const char* path, const char* args) {
    MyCString quoted = QuoteArgumentsSystemD(args);
    return Finish(buffer, snprintf(buffer, sizeof buffer, kSystemDTemplate, Text(name), Text(path), quoted.c_str()));
}

int BuildScriptUpStart(ServiceScript& buffer, const char* name, const char* runlevels, const char* path,
                       const char* args) {
    MyCString quoted = QuoteArgumentsShell(args);
    return Finish(buffer, snprintf(buffer, sizeof buffer, kUpStartTemplate, Text(name), Text(runlevels),
                                   Text(path), quoted.c_str()));
}

// The arguments are the words of a bash array, so that each reaches
// `daemon` whole.
int BuildScriptSysV(ServiceScript& buffer, const char* name, const char* path, const char* runlevels,
                    int priority, const char* args) {
    MyCString quoted = QuoteArgumentsShell(args);
    return Finish(buffer, snprintf(buffer, sizeof buffer, kSysVTemplate, Text(runlevels), priority,
                                   100 - priority, Text(name), Text(name), Text(path), quoted.c_str()));
}

const char* CheckServiceName(const char* name) {
    if (!name || !*name) return "The service name is empty.";
    if (*name == '-') return "The service name must not begin with \"-\".";
    for (const char* p = name; *p; ++p) {
        if (!IsPlainNameByte(static_cast<unsigned char>(*p)))
            return "The service name may hold only letters, digits and the characters . _ - + , : = @.";
    }
    return nullptr;
}

const char* CheckServicePath(const char* path) {
    if (!path || *path != '/') return "The executable's path is not a full path.";
    for (const char* p = path; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c != '/' && !IsPlainNameByte(c))
            return "The executable's path may hold only letters, digits and the characters / . _ - + , : = @.";
    }
    return nullptr;
}

const char* CheckSystemDUnitName(const char* name) {
    const size_t kMaxUnitName = 255;
    const size_t length = name ? strlen(name) : 0;
    if (length + strlen(".service") > kMaxUnitName) return "systemd takes unit names of 255 bytes at most.";
    const char* at = nullptr;
    for (const char* p = name; p && *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || strchr(":_.-", c)) continue;
        if (c == '@' && !at) {
            at = p;
            continue;
        }
        return "systemd takes unit names of ASCII letters, digits and the characters : _ . - only (and one @ "
               "between a template's name and its instance).";
    }
    if (at && (at == name || at[1] == '\0'))
        return "systemd takes an @ in a unit name only between a template's name and its instance.";
    return nullptr;
}

MyCString ServiceFileExecutable(const char* text, int length) {
    static const char* const kStarts[] = {"ExecStart=", "exec ", "execbase="};
    MyCString found;
    if (!text || length <= 0) return found;
    const char* end = text + length;
    for (const char* line = text; line < end;) {
        const char* eol = static_cast<const char*>(memchr(line, '\n', static_cast<size_t>(end - line)));
        if (!eol) eol = end;
        for (const char* start : kStarts) {
            size_t n = strlen(start);
            if (static_cast<size_t>(eol - line) <= n || memcmp(line, start, n) != 0) continue;
            const char* word = line + n;
            const char* stop = word;
            while (stop < eol && *stop != ' ' && *stop != '\t' && *stop != '\r' && *stop != '\0') ++stop;
            if (stop > word) return MyCString(word, static_cast<int>(stop - word));
        }
        line = eol + 1;
    }
    return found;
}
