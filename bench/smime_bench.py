#!/usr/bin/env python3
"""The seven S/MIME commands through zhost beside `openssl cms` doing the same job.

Each measurement is a whole process: zhost with the plug-in, and openssl cms
(two processes, one after the other, for sign-and-encrypt). The two are run as
a pair, in alternating order, RUNS times; the table gives the median of the
pairs' ratios of wall time and of CPU time (user + system; on a shared machine
the steadier of the two), and the largest peak resident set of zhost as
/usr/bin/time -v reports it, against the budget of five times the message
plus 16 MB. 3DES, SHA-1, no signed attributes.

Two message shapes: "base64", a multipart/mixed message whose bulk is a Base64
attachment in 76-character lines, and "lines", a text/plain message made of
3-byte lines "a\\r\\n". Incoming messages are made from them by openssl.

The growth table gives each command's cost per MB above that of an almost
empty message (1 KB), at each size: linear growth keeps them close. Beside
CPU time and peak memory it counts zhost's minor page faults: their cost is
the kernel's and varies with the machine's load, their number is the
program's own. zhost backs blocks of 1 MB and more with huge pages where the
kernel offers them, so from a few MB on a fault maps 2 MB instead of 4 KB.
Rows up to 1 MB take three times the runs, since their CPU time above the
1 KB message is a few milliseconds.

  bench/smime_bench.py [--build DIR] [--sizes 1,10,100] [--runs 3]
                       [--shapes base64,lines] [--commands encrypt,decrypt,...]

Sizes are in MB (2^20 bytes). Needs openssl and /usr/bin/time (package "time").
"""
import argparse
import base64
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

MB = 1 << 20
COMMANDS = ["encrypt", "decrypt", "sign-opaque", "sign-clear", "verify-opaque", "verify-clear",
            "sign-encrypt"]
SHAPES = ["base64", "lines"]
INCOMING = ("decrypt", "verify-opaque", "verify-clear")
TIME = "/usr/bin/time"

HEAD = (b"Date: Tue, 08 Dec 2026 11:00:00 +0900\r\nFrom: Alice <alice@example.com>\r\n"
        b"To: Bob <bob@example.com>\r\nSubject: bench\r\nMIME-Version: 1.0\r\n")


def make_message(shape, size, path):
    """A composed message of about size bytes."""
    with open(path, "wb") as f:
        if shape == "lines":
            head = HEAD + b"Content-Type: text/plain; charset=us-ascii\r\n" \
                          b"Content-Transfer-Encoding: 7bit\r\n\r\n"
            f.write(head + b"a\r\n" * max(1, (size - len(head)) // 3))
            return
        head = HEAD + (b'Content-Type: multipart/mixed; boundary="=_bench"\r\n\r\n'
                       b"This is a multi-part message in MIME format.\r\n"
                       b"--=_bench\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n"
                       b"See the attachment.\r\n"
                       b'--=_bench\r\nContent-Type: application/octet-stream; name="data.bin"\r\n'
                       b"Content-Transfer-Encoding: base64\r\n"
                       b'Content-Disposition: attachment; filename="data.bin"\r\n\r\n')
        tail = b"--=_bench--\r\n"
        lines = max(1, (size - len(head) - len(tail)) // 78)
        data = random.Random(size).randbytes(lines * 57)
        text = base64.b64encode(data)
        f.write(head)
        f.write(b"".join(text[i:i + 76] + b"\r\n" for i in range(0, len(text), 76)))
        f.write(tail)


def run(cmd, env, check=True):
    r = subprocess.run(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if check and r.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), r.stderr.decode(errors="replace")))
    return r


def measure(cmd, env, work):
    """One process under /usr/bin/time -v: (wall s, cpu s, peak KiB, minor
    faults). The CPU time
    comes from the kernel's account of the whole process tree (finer than
    time's hundredths), the peak from time's report."""
    report = os.path.join(work, "time.txt")
    start = time.perf_counter()
    child = subprocess.Popen([TIME, "-v", "-o", report] + cmd, env=env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit("failed (%d): %s" % (child.returncode, " ".join(cmd)))
    with open(report) as f:
        for line in f:
            name, _, value = line.strip().rpartition(": ")
            if name == "Maximum resident set size (kbytes)":
                return wall, usage.ru_utime + usage.ru_stime, int(value), usage.ru_minflt
    sys.exit("no peak memory in the report of /usr/bin/time")


class Bench:
    def __init__(self, build, work):
        self.work = work
        self.zhost = os.path.join(build, "zhost")
        self.env = dict(os.environ, XDG_DATA_HOME=os.path.join(work, "data"), LC_ALL="C")
        self.pki = os.path.join(work, "pki")
        self.plugins = {}

    def p(self, name):
        return os.path.join(self.pki, name)

    def setup(self, build):
        os.makedirs(self.pki)
        ssl = lambda *a: run(["openssl"] + list(a), self.env)
        ssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", self.p("root.key"),
            "-out", self.p("root.pem"), "-days", "30", "-subj", "/C=JP/O=Bench/CN=Bench Root",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign",
            "-addext", "basicConstraints=critical,CA:TRUE")
        for user in ("alice", "bob"):
            ssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", self.p(user + ".key"),
                "-out", self.p(user + ".csr"),
                "-subj", "/C=JP/O=Bench/CN=%s/emailAddress=%s@example.com" % (user, user))
            with open(self.p(user + ".ext"), "w") as f:
                f.write("keyUsage=digitalSignature,keyEncipherment\n"
                        "subjectAltName=email:%s@example.com\n" % user)
            ssl("x509", "-req", "-in", self.p(user + ".csr"), "-CA", self.p("root.pem"),
                "-CAkey", self.p("root.key"), "-CAcreateserial", "-CAserial", self.p("serial"),
                "-days", "30", "-extfile", self.p(user + ".ext"), "-out", self.p(user + ".pem"))
            ssl("pkcs12", "-export", "-inkey", self.p(user + ".key"), "-in", self.p(user + ".pem"),
                "-out", self.p(user + ".p12"), "-passout", "pass:test")
        certs = lambda *a: run([self.zhost, "certs"] + list(a), self.env)
        certs("import", "Root", self.p("root.pem"))
        certs("import", "MY", self.p("alice.p12"), "--password", "test")
        certs("import", "MY", self.p("bob.p12"), "--password", "test")
        certs("import", "CA", self.p("bob.pem"))
        # One plug-in copy per signing form, each with its settings file.
        for form in ("NO", "YES"):
            folder = os.path.join(self.work, "plugin-" + form)
            os.makedirs(folder)
            shutil.copy(os.path.join(build, "libzsmime.so"), folder)
            with open(os.path.join(folder, "libzsmime.ini"), "w") as f:
                f.write("[Settings]\r\nencAlg=3DES\r\nsignHashOID=1.3.14.3.2.26\r\n"
                        "detachedSig=%s\r\ndebug=NO\r\n" % form)
            self.plugins[form] = os.path.join(folder, "libzsmime.so")

    def openssl_jobs(self, command, msg, incoming):
        """The openssl cms processes that do the command's job (run one after the other)."""
        out = os.path.join(self.work, "ossl.out")
        signer = ["-md", "sha1", "-noattr", "-signer", self.p("alice.pem"), "-inkey", self.p("alice.key")]
        recips = [self.p("alice.pem"), self.p("bob.pem")]
        cms = ["openssl", "cms"]
        if command == "encrypt":
            return [cms + ["-encrypt", "-des3", "-binary", "-in", msg, "-out", out] + recips]
        if command == "decrypt":
            return [cms + ["-decrypt", "-in", incoming, "-recip", self.p("bob.pem"),
                           "-inkey", self.p("bob.key"), "-out", out]]
        if command == "sign-opaque":
            return [cms + ["-sign", "-nodetach", "-binary"] + signer + ["-in", msg, "-out", out]]
        if command == "sign-clear":
            return [cms + ["-sign"] + signer + ["-in", msg, "-out", out]]
        if command in ("verify-opaque", "verify-clear"):
            return [cms + ["-verify", "-CAfile", self.p("root.pem"), "-in", incoming, "-out", out]]
        signed = os.path.join(self.work, "ossl-signed.out")
        return [cms + ["-sign", "-nodetach", "-binary"] + signer + ["-in", msg, "-out", signed],
                cms + ["-encrypt", "-des3", "-binary", "-in", signed, "-out", out] + recips]

    def zhost_job(self, command, msg, incoming):
        out = os.path.join(self.work, "zhost.out")
        plugin = self.plugins["YES" if command == "sign-clear" else "NO"]
        verb = {"encrypt": "encrypt", "sign-opaque": "sign", "sign-clear": "sign",
                "sign-encrypt": "sign-encrypt"}.get(command, "verify")
        return [self.zhost, "--plugin", plugin, verb, incoming or msg, "-o", out]

    def make_incoming(self, msg, folder):
        """The received forms of msg, made by openssl: {command: file}."""
        made = {}
        for command, args in (
                ("decrypt", ["-encrypt", "-des3", "-binary", "-in", msg, self.p("alice.pem"),
                             self.p("bob.pem")]),
                ("verify-opaque", ["-sign", "-nodetach", "-binary", "-md", "sha1", "-noattr",
                                   "-signer", self.p("alice.pem"), "-inkey", self.p("alice.key"),
                                   "-in", msg]),
                ("verify-clear", ["-sign", "-md", "sha1", "-noattr", "-signer", self.p("alice.pem"),
                                  "-inkey", self.p("alice.key"), "-in", msg])):
            cms = os.path.join(folder, command + ".cms")
            run(["openssl", "cms", "-crlfeol", "-out", cms] + args, self.env)
            path = os.path.join(folder, command + ".eml")
            with open(path, "wb") as f, open(cms, "rb") as body:
                f.write(b"Date: Tue, 08 Dec 2026 11:00:00 +0900\r\nFrom: alice@example.com\r\n"
                        b"To: bob@example.com\r\nSubject: bench\r\n")
                shutil.copyfileobj(body, f)
            os.remove(cms)
            made[command] = path
        return made

    def pair(self, command, msg, incoming, runs):
        """RUNS paired runs: medians of the ratios, of zhost's times, and the peaks."""
        mine = self.zhost_job(command, msg, incoming)
        theirs = self.openssl_jobs(command, msg, incoming)
        rows = []
        for i in range(runs):
            def ours():
                return measure(mine, self.env, self.work)

            def ossl():
                w = c = 0.0
                m = f = 0
                for job in theirs:
                    jw, jc, jm, jf = measure(job, self.env, self.work)
                    w, c, m, f = w + jw, c + jc, max(m, jm), f + jf
                return w, c, m, f
            if i % 2 == 0:
                z, o = ours(), ossl()
            else:
                o, z = ossl(), ours()
            if i == 0:
                self.check(mine, incoming or msg)
            rows.append((z, o))
        med = statistics.median
        return {
            "wall": med(z[0] / o[0] for z, o in rows),
            "cpu": med(z[1] / max(o[1], 0.005) for z, o in rows),
            "zwall": med(z[0] for z, _ in rows),
            "zcpu": med(z[1] for z, _ in rows),
            "ocpu": med(o[1] for _, o in rows),
            "zpeak": max(z[2] for z, _ in rows),
            "zfaults": med(z[3] for z, _ in rows),
            "opeak": max(o[2] for _, o in rows),
        }

    def check(self, job, source):
        """zhost must have produced a new message (a failure leaves it unchanged)."""
        out = job[-1]
        with open(out, "rb") as a, open(source, "rb") as b:
            if a.read(1 << 16) == b.read(1 << 16) and os.path.getsize(out) == os.path.getsize(source):
                sys.exit("zhost left the message unchanged: " + " ".join(job))


def fmt_cmd(cmd, work):
    return " ".join(cmd).replace(work + "/", "")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default=os.path.join(here, "..", "build"))
    ap.add_argument("--sizes", default="1,10,100", help="message sizes in MB, comma-separated")
    ap.add_argument("--runs", type=int, default=3, help="paired runs per row (median)")
    ap.add_argument("--shapes", default=",".join(SHAPES))
    ap.add_argument("--commands", default=",".join(COMMANDS))
    ap.add_argument("--no-growth", action="store_true", help="skip the 1 KB baseline and growth table")
    args = ap.parse_args()
    sizes = [float(s) for s in args.sizes.split(",") if s]
    shapes = [s for s in args.shapes.split(",") if s]
    commands = [c for c in args.commands.split(",") if c]
    for name in shapes + commands:
        if name not in SHAPES + COMMANDS:
            sys.exit("unknown shape or command: " + name)
    build = os.path.abspath(args.build)
    for tool in (TIME, shutil.which("openssl") or "openssl", os.path.join(build, "zhost")):
        if not os.access(tool, os.X_OK):
            sys.exit("missing %s (zhost: build first; time: apt-get install time)" % tool)

    work = tempfile.mkdtemp(prefix="smime-bench-")
    try:
        bench = Bench(build, work)
        bench.setup(build)
        print("openssl cms doing the same job (files in a scratch folder):")
        for command in commands:
            jobs = bench.openssl_jobs(command, "msg.eml", "received.eml")
            print("  %-13s %s" % (command, " && ".join(fmt_cmd(j, work) for j in jobs)))
            received = "received.eml" if command in INCOMING else None
            print("  %-13s %s" % ("", fmt_cmd(bench.zhost_job(command, "msg.eml", received), work)))
        print("runs per row: %d, %d up to 1 MB (paired, alternating order); ratios are medians of the pairs"
              % (args.runs, args.runs * 3))
        print()
        results = {}
        wanted = ([1.0 / 1024] if not args.no_growth else []) + sizes
        header = "%-6s %7s %-13s %6s %6s %8s %8s %8s %9s %7s %9s" % (
            "shape", "MB", "command", "wall×", "cpu×", "zhost_s", "zcpu_s", "ocpu_s", "zhost_MB", "×msg", "limit_MB")
        print(header)
        for shape in shapes:
            for size in wanted:
                folder = os.path.join(work, "%s-%g" % (shape, size))
                os.makedirs(folder)
                msg = os.path.join(folder, "msg.eml")
                make_message(shape, int(size * MB), msg)
                nbytes = os.path.getsize(msg)
                incoming = bench.make_incoming(msg, folder)
                runs = args.runs * 3 if size <= 1 else args.runs
                for command in commands:
                    r = bench.pair(command, msg, incoming.get(command), runs)
                    r["bytes"] = nbytes
                    results[(shape, size, command)] = r
                    limit = 5 * nbytes / MB + 16
                    peak = r["zpeak"] / 1024
                    print("%-6s %7.3f %-13s %6.2f %6.2f %8.3f %8.3f %8.3f %9.1f %7.2f %8.1f%s" % (
                        shape, nbytes / MB, command, r["wall"], r["cpu"], r["zwall"], r["zcpu"],
                        r["ocpu"], peak, peak * MB / nbytes, limit, "" if peak <= limit else " OVER"),
                        flush=True)
                shutil.rmtree(folder)
        if not args.no_growth and sizes:
            print()
            print("growth: zhost cost per MB above the 1 KB message (CPU s/MB, peak MB/MB, page faults/MB);"
                  " spread = max/min")
            print("%-6s %-13s %s %s" % ("shape", "command",
                                        " ".join("%22s" % ("%g MB" % s) for s in sizes), "  spread cpu, mem, faults"))
            for shape in shapes:
                for command in commands:
                    base = results[(shape, wanted[0], command)]
                    cpu, mem, faults = [], [], []
                    for s in sizes:
                        r = results[(shape, s, command)]
                        mb = (r["bytes"] - base["bytes"]) / MB
                        cpu.append((r["zcpu"] - base["zcpu"]) / mb)
                        mem.append((r["zpeak"] - base["zpeak"]) / 1024 / mb)
                        faults.append((r["zfaults"] - base["zfaults"]) / mb)
                    cells = " ".join("%7.4f %6.2f %6.0f " % v for v in zip(cpu, mem, faults))
                    spread = lambda v: max(v) / min(v) if min(v) > 0 else float("inf")
                    print("%-6s %-13s %s  %5.2f %5.2f %5.2f" % (shape, command, cells, spread(cpu), spread(mem),
                                                              spread(faults)))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
