#!/bin/bash
# The Maven recipe of examples/maven: `mvn -o package` against Debian's
# Maven repository (mounted read-only, so the build cannot change it) with an
# installed tvx-pack on PATH writes target/hello, which runs.
#   maven_test.sh SOURCE_DIR BUILD_DIR
source "$(dirname "$0")/checks.sh"
src=$1 build=$2
repo=/usr/share/maven-repo
command -v mvn >/dev/null || { echo "SKIPPED: Maven is not installed (Debian package maven)"; exit 77; }
for plugin in org/apache/maven/plugins/maven-compiler-plugin/3.10.1 org/apache/maven/plugins/maven-jar-plugin/3.3.0 \
              org/apache/maven/plugins/maven-resources-plugin/3.3.0 org/apache/maven/plugins/maven-surefire-plugin/2.22.3 \
              org/codehaus/mojo/exec-maven-plugin/3.1.0; do
  [[ -d $repo/$plugin ]] || { echo "SKIPPED: $repo lacks $plugin (Debian packages libmaven-*-plugin-java, libsurefire-java, libexec-maven-plugin-java)"; exit 77; }
done

"$src/packaging/install.sh" install --prefix /opt/tvx --destdir "$scratch/inst" --build "$build" > /dev/null
cp -r "$src/examples/maven" "$scratch/project"
rm -rf "$scratch/project/target"
mkdir "$scratch/home"
log="$scratch/mvn.log"
(cd "$scratch/project" &&
 PATH="$scratch/inst/opt/tvx/bin:$PATH" HOME="$scratch/home" unshare --mount --propagation private bash -c \
   "mount --bind $repo $repo && mount -o remount,bind,ro $repo &&
    mvn -o -B -Dmaven.repo.local=$repo package") > "$log" 2>&1
check "mvn -o package" [ $? -eq 0 ] || tail -40 "$log" >&2
exe="$scratch/project/target/hello"
check "target/hello written by tvx-pack" grep -q "tvx-pack: wrote $exe" "$log"
check "target/hello executable" test -x "$exe"
out=$(cd / && unshare --ipc "$exe" -test world 2>&1)
check "target/hello runs" contains "$out" "Hello from Maven, world"
check "as a packed executable" contains "$out" "app.path=$exe"
check "Maven left no local repository in HOME" test ! -e "$scratch/home/.m2"
finish
