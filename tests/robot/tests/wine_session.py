"""A private Wine session for tests that drive windows: one Xvfb display and one clone of the Wine
prefix (hence one wineserver and one desktop) for the whole test file.

Sharing a prefix with other test runs means sharing its wineserver and its desktop process, which
stays bound to whichever X display started it; when that display goes away, windows of later runs
go with it. A clone costs hard links only.
"""
import os
import subprocess


def winpath(path):
    """Wine maps the Linux root to drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class WineSession:
    def __init__(self, wine_run, workdir):
        self.wine_run = os.path.abspath(wine_run)
        scripts = os.path.dirname(self.wine_run)
        self.env_script = os.path.join(scripts, "wine-env.sh")
        root = os.path.dirname(scripts)
        self.env = dict(os.environ)
        self.xvfb = None
        source = os.environ.get("WINEPREFIX") or os.path.join(root, "build", "wineprefix")
        if not os.path.exists(os.path.join(source, "system.reg")):
            # wine-run.sh makes the shared prefix on first use.
            env = dict(os.environ)
            env.pop("WINEPREFIX", None)
            subprocess.run([self.wine_run, "cmd.exe", "/c", "exit"], env=env, timeout=300,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.prefix = os.path.join(os.path.abspath(workdir), "wineprefix")
        cloned = subprocess.run(["bash", "-c", 'source "$0"; tessel_clone_prefix "$1" "$2"', self.env_script, source,
                                 self.prefix], timeout=300, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if cloned.returncode != 0:
            # Hard links need one file system; share the prefix then (and its wineserver).
            print("note: could not clone %s (%s); using it directly" % (source, cloned.stderr.decode().strip()))
            self.prefix = source
        self.private = self.prefix != source
        self.env["WINEPREFIX"] = self.prefix
        if not self.env.get("DISPLAY"):
            read_fd, write_fd = os.pipe()
            self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24",
                                          "-nolisten", "tcp"], pass_fds=(write_fd,),
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            os.close(write_fd)
            number = b""
            while not number.endswith(b"\n"):
                chunk = os.read(read_fd, 16)
                if not chunk:
                    break
                number += chunk
            os.close(read_fd)
            if not number.strip():
                raise RuntimeError("Xvfb did not start")
            self.env["DISPLAY"] = ":" + number.decode().strip()

    def close(self):
        if self.private:
            subprocess.run(["bash", "-c", 'source "$0"; WINEPREFIX="$1" "$WINESERVER" -k', self.env_script,
                            self.prefix], env=self.env, timeout=60, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait(timeout=30)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def run(self, exe, args, timeout=180, env_extra=None):
        """Runs a Windows program through wine-run.sh in this session; returns the CompletedProcess."""
        env = dict(self.env)
        env.update(env_extra or {})
        return subprocess.run([self.wine_run, exe] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              env=env, timeout=timeout)
