#!/usr/bin/env python3
"""What compare_scenarios.py must refuse in a single run: the faults a host
would see on a TV, written as the transcripts that show them."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare_scenarios  # noqa: E402


def scenario(*lines):
    """A scenario from transcript lines written as tuples: ("call", at, what,
    answer, took) or ("poll", at, state, position, duration)."""
    timeline = []
    for line in lines:
        if line[0] == "call":
            timeline.append(("call", tuple(line[1:]) + ("=",)))
        else:
            timeline.append(("poll", tuple(line[1:])))
    return {"name": "made", "timeline": timeline,
            "calls": [i for k, i in timeline if k == "call"],
            "polls": [i for k, i in timeline if k == "poll"]}


def playing(start_ms, count, position, duration, step=100, rate=1.0):
    return [("poll", start_ms + i * step, 2, position + int(i * step * rate), duration)
            for i in range(count)]


def faults(s):
    return [d for _, d in compare_scenarios.unsound(s)]


class Soundness(unittest.TestCase):
    def test_a_sound_session_passes(self):
        # Catches up with a recording's written end and waits there, ends,
        # is sought back and plays again, then is freed at once.
        s = scenario(("call", 0, "play()", 1, 0),
                     *playing(0, 5, 0, 400),
                     ("poll", 500, 2, 400, 440), ("poll", 600, 2, 440, 440),
                     ("poll", 700, 5, 440, 440),
                     ("call", 700, "seek(100)", 100, 0), ("poll", 700, 2, 100, 440),
                     *playing(800, 3, 200, 440),
                     ("call", 1100, "free()", 0, 2))
        self.assertEqual(faults(s), [])

    def test_position_past_the_duration_or_back_without_a_seek(self):
        ran_on = scenario(*playing(0, 3, 4000, 4480), ("poll", 300, 2, 4500, 4480))
        self.assertIn("past the duration", " ".join(faults(ran_on)))
        jumped = scenario(("poll", 0, 2, 4480, 4480), ("poll", 100, 5, 1000, 6000))
        self.assertIn("went back from 4480 to 1000", " ".join(faults(jumped)))
        sought = scenario(("poll", 0, 2, 4480, 4480), ("call", 50, "seek(1000)", 1000, 0),
                          ("poll", 100, 2, 1000, 6000))
        self.assertEqual(faults(sought), [])

    def test_the_next_file_plays_at_the_rate_the_host_reads(self):
        carried = scenario(("call", 0, "setPlaybackRate(2.0)", 2000, 0),
                           *playing(0, 3, 0, 3000, rate=2.0),
                           ("call", 300, "free()", 0, 0),
                           ("call", 300, "load(next.mpg)", 0, 0),
                           ("call", 300, "getPlaybackRate()", 1000, 0),
                           *playing(400, 6, 0, 3000, rate=2.0))
        self.assertIn("at the rate 1.0", " ".join(faults(carried)))
        kept = scenario(("call", 0, "setPlaybackRate(2.0)", 2000, 0),
                        *playing(0, 3, 0, 3000, rate=2.0))
        self.assertEqual(faults(kept), [])

    def test_free_after_the_end_returns_at_once(self):
        s = scenario(("poll", 0, 5, 2000, 2000), ("call", 100, "free()", 0, 3006))
        self.assertIn("took 3006 ms", " ".join(faults(s)))

    def test_a_seek_back_in_an_ended_clip_finds_it_playing(self):
        s = scenario(("poll", 0, 5, 2000, 2000), ("call", 50, "seek(500)", 500, 0),
                     ("poll", 50, 5, 500, 2000))
        self.assertIn("left it in state 5", " ".join(faults(s)))


if __name__ == "__main__":
    unittest.main()
