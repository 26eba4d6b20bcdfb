// The unit, job and init script a service installation must write, spelled
// out line by line for the tests.
#ifndef TVX_TESTS_SERVICE_EXPECTED_SCRIPTS_H
#define TVX_TESTS_SERVICE_EXPECTED_SCRIPTS_H

#include <string>

namespace servicetest {

// No final newline.
inline std::string ExpectedSystemDUnit(const std::string& name, const std::string& path, const std::string& args) {
    return "[Unit]\n"
           "Description=" + name + " service\n"
           "After=network.target local-fs.target remote-fs.target\n"
           "\n"
           "[Service]\n"
           "ExecStart=" + path + " --no-daemon " + args + "\n"
           "SuccessExitStatus=143\n"
           "\n"
           "[Install]\n"
           "WantedBy=multi-user.target";
}

// No final newline.
inline std::string ExpectedUpStartJob(const std::string& name, const std::string& runlevels, const std::string& path,
                                      const std::string& args) {
    return "description \"" + name + " service\"\n"
           "\n"
           "start on runlevel [" + runlevels + "]\n"
           "stop on runlevel [!2345]\n"
           "\n"
           "exec " + path + " --no-daemon " + args;
}

// `quotedArgs` as they stand, shell words, in the execpath=( ) array.
inline std::string ExpectedSysVScript(const std::string& name, const std::string& path, const std::string& runlevels,
                                      int priority, const std::string& quotedArgs) {
    return "#!/bin/bash\n"
           "#\n"
           "# chkconfig: " + runlevels + " " + std::to_string(priority) + " " + std::to_string(100 - priority) + "\n"
           "# description: " + name + " service\n"
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
           "prog=" + name + "\n"
           "execbase=" + path + "\n"
           "execpath=(\"${execbase}\" " + quotedArgs + ")\n"
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
}

}  // namespace servicetest

#endif  // TVX_TESTS_SERVICE_EXPECTED_SCRIPTS_H
