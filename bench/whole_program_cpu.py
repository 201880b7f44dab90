#!/usr/bin/python3
"""What listening costs the whole program, against ffmpeg doing the floor of the same work.

Starts the test services (a private X server with openbox and a tray, D-Bus with the Secret
Service, PulseAudio with null sinks) unless it already runs inside them, the fake backend as a
process of its own with a speaker that never stops, and the real kavrel; signs in, starts
listening with the microphone on and the M4A recording on while speech plays in a loop into the speakers' null sink and the
microphone's feed, with the main window open. While it listens, in the same run, two ffmpeg
processes do the floor: one captures the speakers' monitor and encodes AAC, the other captures the
monitor and the microphone, mixes them and encodes AAC (both 16 kHz mono with the AAC coder and
bit rate kavrel records with).

Every 10 s it samples /proc: the CPU and resident set of each process, and the CPU and the
voluntary context switches (wake-ups) of each of kavrel's threads. At the end it prints kavrel's
share of one core (and by thirds of the window), its resident set at the start and the end, each
thread's CPU and wake-ups per second, and the ratios to the two floors. Targets: kavrel at most
3 % of one core and at most 1.5 times the mixed floor.

    scripts/with-test-services is started by the script itself:
    bench/whole_program_cpu.py --kavrel build-release/src/kavrel \\
        --backend build-test/tests/kavrel_fake_backend_server [--minutes 10]
"""
import argparse
import os
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

TICKS = os.sysconf("SC_CLK_TCK")
SPEAKER_TEXT = ("Good morning everyone, thank you for joining. Today we review the launch plan for the "
                "new release, the numbers of the last quarter and the open questions of the team.")
MICROPHONE_TEXT = "Thank you, I am here. I have two questions about the numbers, I will ask them later."


def process_cpu_ticks(pid):
    """utime + stime of a process (all its threads)."""
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def threads(pid):
    """{tid: (name, cpu ticks, voluntary switches)} of the process's threads."""
    result = {}
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/stat" % (pid, tid)) as stat:
                text = stat.read()
            name = text[text.index("(") + 1:text.rindex(")")]
            fields = text.rsplit(")", 1)[1].split()
            switches = 0
            with open("/proc/%d/task/%s/status" % (pid, tid)) as status:
                for line in status:
                    if line.startswith("voluntary_ctxt_switches:"):
                        switches = int(line.split()[1])
            result[int(tid)] = (name, int(fields[11]) + int(fields[12]), switches)
        except (OSError, ValueError):
            continue  # the thread ended meanwhile
    return result


class Looper:
    """Plays a file into a sink again and again until stopped."""

    def __init__(self, sink, wav):
        self.sink, self.wav, self.stopped, self.process = sink, wav, False, None
        self.thread = threading.Thread(target=self.loop, daemon=True)
        self.thread.start()

    def loop(self):
        while not self.stopped:
            self.process = subprocess.Popen(["paplay", "--device=" + self.sink, self.wav])
            self.process.wait()

    def stop(self):
        self.stopped = True
        if self.process and self.process.poll() is None:
            self.process.terminate()


def ffmpeg_floor(sources, output):
    command = ["ffmpeg", "-hide_banner", "-loglevel", "error", "-y"]
    for source in sources:
        command += ["-f", "pulse", "-i", source]
    if len(sources) > 1:
        command += ["-filter_complex", "amix=inputs=%d" % len(sources)]
    command += ["-ar", "16000", "-ac", "1", "-c:a", "aac", "-aac_coder", "fast", "-b:a", "96k", output]
    return subprocess.Popen(command, stdin=subprocess.DEVNULL)


def percent(ticks, seconds):
    return 100.0 * ticks / TICKS / seconds if seconds > 0 else 0.0


def measure(args):
    import kavrel_end_to_end as e2e

    run = e2e.Run(argparse.Namespace(kavrel=args.kavrel, backend=args.backend, screenshots=args.screenshots))
    loopers, floors = [], []
    try:
        run.start_backend(["--keep-talking"])
        run.sign_in()
        run.start_listening_with_microphone(record_audio=True)
        speakers = os.environ.get("KAVREL_TEST_PULSE_SINK", "kavrel_speakers")
        mic_feed = os.environ.get("KAVREL_TEST_PULSE_MIC_FEED", "kavrel_mic_feed")
        microphone = os.environ.get("KAVREL_TEST_PULSE_MIC_SOURCE", "kavrel_mic")
        for sink, text in ((speakers, SPEAKER_TEXT), (mic_feed, MICROPHONE_TEXT)):
            wav = os.path.join(run.work, "loop-%s.wav" % sink)
            subprocess.run(["espeak-ng", "-w", wav, text], check=True)
            loopers.append(Looper(sink, wav))
        floors = [ffmpeg_floor([speakers + ".monitor"], os.path.join(run.work, "floor-monitor.m4a")),
                  ffmpeg_floor([speakers + ".monitor", microphone], os.path.join(run.work, "floor-mixed.m4a"))]
        time.sleep(5)  # the first results arrive, start-up is over
        run.screenshot("whole-program-listening")

        kavrel = run.kavrel.pid
        pids = {"kavrel": kavrel, "ffmpeg monitor": floors[0].pid, "ffmpeg mixed": floors[1].pid}
        duration = args.minutes * 60
        interval = min(10.0, duration / 3)
        with open("/proc/loadavg") as load:
            load_before = load.read().split()[:3]
        start = time.time()
        samples = [(0.0, {name: process_cpu_ticks(pid) for name, pid in pids.items()}, rss_kib(kavrel),
                    threads(kavrel))]
        print("t (s)   kavrel %   ffmpeg monitor %   ffmpeg mixed %   kavrel RSS MiB", flush=True)
        while time.time() - start < duration:
            time.sleep(min(interval, max(0.0, duration - (time.time() - start))))
            if run.kavrel.poll() is not None:
                raise e2e.Failure("kavrel ended during the run")
            now = time.time() - start
            cpu = {name: process_cpu_ticks(pid) for name, pid in pids.items()}
            samples.append((now, cpu, rss_kib(kavrel), threads(kavrel)))
            previous = samples[-2]
            span = now - previous[0]
            print("%5.0f   %8.2f   %16.2f   %14.2f   %14.1f" % (
                now, percent(cpu["kavrel"] - previous[1]["kavrel"], span),
                percent(cpu["ffmpeg monitor"] - previous[1]["ffmpeg monitor"], span),
                percent(cpu["ffmpeg mixed"] - previous[1]["ffmpeg mixed"], span), samples[-1][2] / 1024), flush=True)
        with open("/proc/loadavg") as load:
            load_after = load.read().split()[:3]
        report(samples, load_before, load_after)
        return 0
    finally:
        for looper in loopers:
            looper.stop()
        for floor in floors:
            if floor.poll() is None:
                floor.terminate()
                floor.wait(timeout=10)
        run.stop_all()


def report(samples, load_before, load_after):
    first, last = samples[0], samples[-1]
    seconds = last[0] - first[0]
    total = {name: percent(last[1][name] - first[1][name], seconds) for name in first[1]}
    print()
    print("over %.0f s; load average before %s, after %s" % (seconds, " ".join(load_before), " ".join(load_after)))
    thirds = []
    for part in range(3):
        begin = samples[round(part * (len(samples) - 1) / 3)]
        end = samples[round((part + 1) * (len(samples) - 1) / 3)]
        thirds.append(percent(end[1]["kavrel"] - begin[1]["kavrel"], end[0] - begin[0]))
    print("kavrel: %.2f %% of one core (thirds: %s); RSS %.1f -> %.1f MiB" % (
        total["kavrel"], " / ".join("%.2f" % value for value in thirds), first[2] / 1024, last[2] / 1024))
    print("ffmpeg floor, monitor: %.2f %%; monitor + microphone mixed: %.2f %%" % (
        total["ffmpeg monitor"], total["ffmpeg mixed"]))
    for name in ("ffmpeg monitor", "ffmpeg mixed"):
        if total[name] > 0:
            print("kavrel / %s: %.2f" % (name, total["kavrel"] / total[name]))
    print("targets: kavrel <= 3 %% of one core: %s; <= 1.5 x the mixed floor: %s" % (
        "met" if total["kavrel"] <= 3.0 else "NOT met",
        "met" if total["ffmpeg mixed"] > 0 and total["kavrel"] <= 1.5 * total["ffmpeg mixed"] else "NOT met"))

    # By thread: threads of the same name are summed (the program's pool threads share names).
    by_name = {}
    for tid, (name, ticks, switches) in last[3].items():
        before = first[3].get(tid, (name, 0, 0))
        cpu, wakeups = by_name.get(name, (0, 0))
        by_name[name] = (cpu + ticks - before[1], wakeups + switches - before[2])
    print()
    print("thread                     CPU % of a core    wake-ups/s")
    for name, (ticks, switches) in sorted(by_name.items(), key=lambda item: (-item[1][0], -item[1][1])):
        print("%-26s %16.2f   %10.1f" % (name, percent(ticks, seconds), switches / seconds))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--kavrel", required=True)
    parser.add_argument("--backend", required=True, help="kavrel_fake_backend_server")
    parser.add_argument("--minutes", type=float, default=10.0)
    parser.add_argument("--screenshots", default=os.path.join(ROOT, "build", "screenshots"))
    args = parser.parse_args()
    if not os.environ.get("KAVREL_TEST_X11"):
        # Run again inside a fresh set of test services.
        command = [os.path.join(ROOT, "scripts", "with-test-services"), sys.executable] + sys.argv
        return subprocess.call(command)
    try:
        return measure(args)
    except Exception as failure:
        print("FAIL: %s" % failure, flush=True)
        return 1


if __name__ == "__main__":
    sys.exit(main())
