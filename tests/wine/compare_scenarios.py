#!/usr/bin/env python3
"""Compares what the host saw in the timed scenarios on Linux and under Wine.

Usage: compare_scenarios.py <known gaps> <sed rules> (<wine dir> <linux dir>)...

Each folder holds the transcript (transcript.txt) and the masked plug-in log
(masked.log) of tovix_scenarios; each Linux run is compared with the Wine run
given before it (one pair per clock model of the card's decoder). Every run
must first be sound on its own, as a host needs it:
  - the position never past the duration, and never lower than at the poll
    before unless a seek, load, stop or free came between;
  - over each stretch of playing with no call (400 ms or more), the position
    moves at the rate the host last set or read for the file (1.0 after each
    load), except at the end of what is there;
  - free returns at once (500 ms);
  - a seek back in a clip that had ended finds it playing.
Then, per scenario, in both runs:
  - the same natives in the same order, each with the same answer, and each
    but the set-up (openOSD and load, left out of the time line) taking as
    long within 150 ms;
  - the same changes of state, each within 150 ms (a change came between the
    poll before it and the poll that saw it);
  - at every poll, position and duration within 150 ms, plus what the two
    polls' own times apart allow at up to twice the normal rate;
  - the plug-in log's lines of the scenario, once the rules of the session's
    known differences have brought both to a common form.
A difference that the known-gaps file lists for its scenario is told with
its reason; any other fails the comparison.
"""
import difflib
import re
import subprocess
import sys

TOLERANCE_MS = 150
# The shortest stretch of playing over which the rate is told apart from
# the polls' own lateness (a rate of 2.0 moves it 400 ms further).
RATE_STRETCH_MS = 400
AT_ONCE_MS = 500
PLAYING, ENDED = 2, 5
# The calls after which the position may be lower than before.
MOVES_BACK = ("seek(", "load(", "stop(", "free(", "closeOSD(")


def transcript(path):
    scenarios = []
    for line in open(path, encoding="utf-8"):
        fields = line.rstrip("\n").split("\t")
        if fields[0] == "scenario":
            scenarios.append({"name": fields[1], "calls": [], "polls": [], "timeline": []})
        elif fields[0] == "call":
            at, what, answer, took, kind = fields[1:6]
            call = (int(at), what, int(answer), int(took), kind)
            scenarios[-1]["calls"].append(call)
            scenarios[-1]["timeline"].append(("call", call))
        elif fields[0] == "poll":
            poll = tuple(int(f) for f in fields[1:5])
            scenarios[-1]["polls"].append(poll)
            scenarios[-1]["timeline"].append(("poll", poll))
    return scenarios


def log_by_scenario(path, rules):
    """The masked log in the common form, cut before each openOSD after the
    first: one part per scenario (the banner goes with the first)."""
    text = subprocess.run(["sed", "-f", rules, path], capture_output=True, text=True,
                          check=True).stdout
    parts = [[]]
    for line in text.splitlines():
        if line.endswith("<TOVIXAPI>: openOSD") and any(
                l.endswith("<TOVIXAPI>: openOSD") for l in parts[-1]):
            parts.append([])
        parts[-1].append(line)
    return parts


def state_changes(polls):
    """Each change of state with the times of the poll before it and of the
    poll that saw it: the change came between the two."""
    changes, last, before = [], None, 0
    for at, state, _, _ in polls:
        if state != last:
            changes.append((before, at, state))
            last = state
        before = at
    return changes


def differences(linux, wine, linux_log, wine_log):
    """Yields (kind, description) for each difference of one scenario."""
    lc, wc = linux["calls"], wine["calls"]
    if [c[1] for c in lc] != [c[1] for c in wc]:
        yield "calls", "the natives called differ: %s against %s" % (
            [c[1] for c in lc], [c[1] for c in wc])
        return
    for (lat, what, lans, ltook, kind), (wat, _, wans, wtook, _) in zip(lc, wc):
        if lans != wans:
            yield "call " + what, "%s at %d ms answered %d on Linux, %d under Wine" % (
                what, lat, lans, wans)
        if kind != "setup" and abs(ltook - wtook) > TOLERANCE_MS:
            yield "time " + what, "%s took %d ms on Linux, %d under Wine" % (what, ltook, wtook)

    ls, ws = state_changes(linux["polls"]), state_changes(wine["polls"])
    if [c[2] for c in ls] != [c[2] for c in ws]:
        yield "state", "the states went %s on Linux, %s under Wine" % (
            [(at, s) for _, at, s in ls], [(at, s) for _, at, s in ws])
    else:
        for (lfrom, lat, state), (wfrom, wat, _) in zip(ls, ws):
            if max(0, wfrom - lat, lfrom - wat) > TOLERANCE_MS:
                yield "state", "state %d came at %d ms on Linux, %d under Wine" % (state, lat, wat)

    if len(linux["polls"]) != len(wine["polls"]):
        yield "polls", "%d polls on Linux, %d under Wine" % (len(linux["polls"]),
                                                            len(wine["polls"]))
    else:
        for (lat, _, lpos, ldur), (wat, _, wpos, wdur) in zip(linux["polls"], wine["polls"]):
            allowed = TOLERANCE_MS + 2 * abs(lat - wat)
            if abs(lpos - wpos) > allowed:
                yield ("position", lat), "at %d ms the position was %d ms on Linux, %d under Wine" % (
                    lat, lpos, wpos)
            if abs(ldur - wdur) > allowed:
                yield ("duration", lat), "at %d ms the duration was %d ms on Linux, %d under Wine" % (
                    lat, ldur, wdur)

    if linux_log != wine_log:
        for line in difflib.unified_diff(linux_log, wine_log, "Linux", "Wine", lineterm="", n=0):
            if line[:1] in "+-" and not line.startswith(("+++", "---")):
                yield "log", line


def off_rate(first, last, rate):
    """Yields a fault when the position moved from poll `first` to poll
    `last` at another rate than `rate`; stretches too short to tell the
    rate from the polls' own lateness are passed over."""
    elapsed, moved = last[0] - first[0], last[2] - first[2]
    if elapsed >= RATE_STRETCH_MS and abs(moved - rate * elapsed) > TOLERANCE_MS:
        yield ("sound", last[0]), (
            "from %d to %d ms the position moved %d ms at the rate %.1f the host read" % (
                first[0], last[0], moved, rate))


def unsound(scenario):
    """Yields (kind, description) for what a host could not live with in one
    run's scenario."""
    rate = 1.0
    before, between = None, []  # the poll before, and the calls since
    stretch = None  # the first poll of this stretch of playing with no call, and its rate
    for kind, item in scenario["timeline"]:
        if kind == "call":
            at, what, answer, took, _ = item
            between.append(what)
            if what.startswith("load("):
                rate = 1.0
            elif what.startswith(("setPlaybackRate(", "getPlaybackRate(")):
                rate = answer / 1000.0
            elif what.startswith("free(") and took > AT_ONCE_MS:
                yield "sound", "free() at %d ms took %d ms" % (at, took)
            continue
        at, state, position, duration = item
        if duration > 0 and position > duration:
            yield ("sound", at), "at %d ms the position %d ms was past the duration %d ms" % (
                at, position, duration)
        if before:
            b_state, b_position = before[1], before[2]
            if position < b_position and not any(w.startswith(MOVES_BACK) for w in between):
                yield ("sound", at), "at %d ms the position went back from %d to %d ms" % (
                    at, b_position, position)
            if b_state == ENDED and state != PLAYING and any(
                    w.startswith("seek(") and int(w[5:-1]) < duration for w in between):
                yield "sound", "at %d ms a seek back in the ended clip left it in state %d" % (
                    at, state)
        # The end of what is there holds the position, whatever the rate.
        playing = state == PLAYING and position < duration - TOLERANCE_MS
        if stretch and (between or not playing):
            yield from off_rate(stretch[0], before, stretch[1])
            stretch = None
        if playing and not stretch:
            stretch = (item, rate)
        before, between = item, []
    if stretch:
        yield from off_rate(stretch[0], before, stretch[1])


def known_gaps(path):
    gaps = []
    for line in open(path, encoding="utf-8"):
        if line.startswith("#") or not line.strip():
            continue
        scenario, kind, reason = line.rstrip("\n").split("\t")
        gaps.append((scenario, kind, reason))
    return gaps


def excused(gaps, scenario, kind, description):
    """The reason of the gap listed for this difference, or None. A poll's
    kind ("position", "duration") comes with its time, and a listed gap of
    that kind may hold only "before N" or "after N" ms."""
    at = None
    if isinstance(kind, tuple):
        kind, at = kind
    for name, listed, reason in gaps:
        if name != scenario:
            continue
        if listed.startswith("log:"):
            if kind == "log" and re.search(listed[4:], description):
                return reason
            continue
        window = re.fullmatch(r"(\S+) (before|after) (\d+)", listed)
        if window and at is not None:
            limit = int(window.group(3))
            if kind == window.group(1) and (at < limit if window.group(2) == "before"
                                            else at >= limit):
                return reason
        elif kind == listed:
            return reason
    return None


def compare(linux_dir, wine_dir, wine, gaps, rules):
    """Prints what differs between one Linux run and the Wine run, and
    answers how many differences the known gaps do not name."""
    linux = transcript(linux_dir + "/transcript.txt")
    if [s["name"] for s in linux] != [s["name"] for s in wine]:
        print("the runs played different scenarios: %s against %s" % (
            [s["name"] for s in linux], [s["name"] for s in wine]))
        return 1
    linux_logs = log_by_scenario(linux_dir + "/masked.log", rules)
    wine_logs = log_by_scenario(wine_dir + "/masked.log", rules)
    failed = 0
    for i, (l, w) in enumerate(zip(linux, wine)):
        ll = linux_logs[i] if i < len(linux_logs) else []
        wl = wine_logs[i] if i < len(wine_logs) else []
        found = list(differences(l, w, ll, wl))
        found += [(k, "Linux: " + d) for k, d in unsound(l)]
        found += [(k, "Wine: " + d) for k, d in unsound(w)]
        known = {}
        for kind, description in found:
            reason = excused(gaps, l["name"], kind, description)
            if reason and not description.startswith("Linux: "):
                known.setdefault(reason, []).append(description)
            else:
                print("%s: DIFFERS: %s" % (l["name"], description))
                failed += 1
        # A known gap is told once, with its first instance.
        for reason, seen in known.items():
            more = " (and %d more)" % (len(seen) - 1) if len(seen) > 1 else ""
            print("%s: known gap of Wine (%s): %s%s" % (l["name"], reason, seen[0], more))
        if not found:
            print("%s: the same (%d calls, %d polls)" % (l["name"], len(l["calls"]),
                                                        len(l["polls"])))
    print("%d scenarios compared, %d differences beyond the known gaps" % (len(linux), failed))
    return failed


def main():
    gaps_path, rules = sys.argv[1:3]
    pairs = sys.argv[3:]
    if not pairs or len(pairs) % 2:
        print(__doc__)
        return 2
    gaps = known_gaps(gaps_path)
    failed = 0
    for wine_dir, linux_dir in zip(pairs[::2], pairs[1::2]):
        print("--- %s against %s" % (linux_dir, wine_dir))
        wine = transcript(wine_dir + "/transcript.txt")
        failed += compare(linux_dir, wine_dir, wine, gaps, rules)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
