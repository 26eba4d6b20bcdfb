#!/bin/bash
# tvx-maven-plugin on examples/maven: `mvn -o package` against Debian's Maven
# repository (mounted read-only, so the build cannot change it), with tvx
# installed (tvx-pack on PATH, the plugin taken from its share/maven-repo
# into the project's local repository), writes target/hello, which runs with
# its dependency merged in, and the Debian package of <deb>, which
# tvx-pack --inspect, dpkg-deb and lintian check. A configuration without a
# main class or without the package's version fails the build, naming what
# is missing, and one that tvx-pack refuses fails it with tvx-pack's message;
# neither writes the executable or the package.
#   maven_test.sh SOURCE_DIR BUILD_DIR
source "$(dirname "$0")/checks.sh"
src=$1 build=$2
repo=/usr/share/maven-repo
command -v mvn >/dev/null || { echo "SKIPPED: Maven is not installed (Debian package maven)"; exit 77; }
for tool in dpkg-deb lintian; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
for artifact in org/apache/maven/plugins/maven-compiler-plugin/3.10.1 org/apache/maven/plugins/maven-jar-plugin/3.3.0 \
                org/apache/maven/plugins/maven-resources-plugin/3.3.0 org/apache/maven/plugins/maven-surefire-plugin/2.22.3 \
                commons-cli/commons-cli/1.5.0; do
  [[ -d $repo/$artifact ]] || { echo "SKIPPED: $repo lacks $artifact (Debian packages libmaven-*-plugin-java, libsurefire-java, libcommons-cli-java)"; exit 77; }
done
plugin=$(ls "$build"/maven-repo/com/brindell/tvx/tvx-maven-plugin/*/*.jar 2>/dev/null | head -n 1)
[[ -n $plugin ]] || { echo "SKIPPED: this build made no tvx-maven-plugin (see cmake's configure output)"; exit 77; }

"$src/packaging/install.sh" install --prefix /opt/tvx --destdir "$scratch/inst" --build "$build" > /dev/null
inst="$scratch/inst/opt/tvx"
mkdir -p "$scratch/m2" "$scratch/home"
cp -r "$inst/share/maven-repo/." "$scratch/m2/"
cp -r "$src/examples/maven" "$scratch/project"
rm -rf "$scratch/project/target"

# mvn_package DIR LOG: `mvn -o package` in DIR, offline.
mvn_package() {
  (cd "$1" &&
   PATH="$inst/bin:$PATH" HOME="$scratch/home" unshare --mount --propagation private bash -c \
     "mount --bind $repo $repo && mount -o remount,bind,ro $repo &&
      mvn -o -B -s $src/pack/maven-plugin/settings.xml -Dtvx.repo=$scratch/m2 -Daether.offline.protocols=file package") > "$2" 2>&1
}
log="$scratch/mvn.log"
mvn_package "$scratch/project" "$log"
check "mvn -o package" [ $? -eq 0 ] || tail -40 "$log" >&2
check "the plugin ran in package" grep -q "tvx-maven-plugin:0.1.0:pack (default) @ hello" "$log"
check "the dependency was merged" grep -q "1 runtime dependencies merged into hello-1.0-tvx.jar" "$log"
exe="$scratch/project/target/hello"
check "target/hello written by tvx-pack" grep -q "tvx-pack: wrote $exe" "$log"
check "target/hello executable" test -x "$exe"
out=$(cd / && unshare --ipc "$exe" -test --upper world 2>&1)
check "target/hello runs, commons-cli inside" contains "$out" "HELLO FROM MAVEN, WORLD"
check "as a packed executable" contains "$out" "app.path=$exe"

deb="$scratch/project/target/hello_1.0_amd64.deb"
check "the package of <deb> written" test -f "$deb"
while IFS='|' read -r field want; do
  check "package field $field" [ "$(dpkg-deb -f "$deb" "$field" | head -n 1)" = "$want" ]
done <<'TABLE'
Package|hello
Version|1.0
Architecture|amd64
Maintainer|Ann Example <ann@example.com>
Section|utils
Description|greets whoever runs it
TABLE
check "Depends from minjre 11" contains "$(dpkg-deb -f "$deb" Depends)" "openjdk-11-jre-headless | java11-runtime-headless"
shown=$("$inst/bin/tvx-pack" --inspect "$deb" 2>&1)
check "--inspect: the executable inside" contains "$shown" "executable /usr/lib/hello/hello"
check "--inspect: its main class" contains "$shown" "setting mainclass = com.example.hello.Hello"
check "--inspect: the plugin's settings" contains "$shown" "option -Xmx64m"
check "lintian passes the package" lintian --fail-on error,warning "$deb"
mkdir "$scratch/x" && dpkg-deb -x "$deb" "$scratch/x"
out=$(cd / && unshare --ipc "$scratch/x/usr/lib/hello/hello" -test --upper packaged 2>&1)
check "the packaged executable runs" contains "$out" "HELLO FROM MAVEN, PACKAGED"
check "Maven left no local repository in HOME" test ! -e "$scratch/home/.m2"

# Bad configuration: the build fails with one clear message, nothing packed.
while IFS='|' read -r what edit want; do
  # The built project, so that only the jar and the plugin run again.
  rm -rf "$scratch/bad"
  cp -r "$scratch/project" "$scratch/bad"
  rm -f "$scratch/bad/target/hello" "$scratch/bad/target/"*.deb
  sed -i "$edit" "$scratch/bad/pom.xml"
  mvn_package "$scratch/bad" "$scratch/bad.log"
  check "$what: the build fails" [ $? -ne 0 ]
  check "$what: says why" grep -qF "$want" "$scratch/bad.log"
  check "$what: nothing packed" bash -c "! ls '$scratch/bad/target/hello' '$scratch/bad/target/'*.deb 2>/dev/null"
done <<'TABLE'
no main class|/<mainClass>/d|tvx: no main class: set <mainClass> in tvx-maven-plugin's configuration
no package version|/<version>${project.version}<\/version>/d|tvx: <deb> needs a <version>
a name tvx-pack refuses|s#<deb>#<deb><name>My_Tool</name>#|tvx-pack failed (status 2): tvx-pack: invalid package name 'My_Tool'
TABLE
finish
