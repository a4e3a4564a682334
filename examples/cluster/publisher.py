#!/usr/bin/env python3
"""publisher.py - drives a display cluster from Python, with no qvp code:
each edit is one entry on the Redis stream the render nodes' qvp_mirror
follow, written as the viewer's own publisher writes it.

An entry has the fields "v" (the record version, 1), "op" (the words of
a font, image or canvas command as a Tcl list) and, for "canvas add",
"id" (the element's id, which this publisher chooses: unique per canvas,
from 1). STREAM:clock holds the show's clock in seconds, which video
frames follow. See docs/cluster.md for the whole protocol.

    python3 examples/cluster/publisher.py --redis 127.0.0.1:6379 --stream st

The password, when Redis wants one, comes from QVP_REDIS_PASSWORD (and
QVP_REDIS_USER), as for qvp_mirror.
"""
import argparse
import os
import re
import time

import redis

RECORD_VERSION = 1


def tcl_word(word):
    """One word of a Tcl list, quoted as Tcl's own list command would."""
    if word == "":
        return "{}"
    if not re.search(r'[\s{}\[\]$;"\\]', word):
        return word
    depth = 0
    balanced = True
    for ch in word:
        depth += ch == "{"
        depth -= ch == "}"
        balanced = balanced and depth >= 0
    if balanced and depth == 0 and not word.endswith("\\"):
        return "{" + word + "}"
    return re.sub(r'([\s{}\[\]$;"\\])', r"\\\1", word)


def tcl_list(words):
    return " ".join(tcl_word(str(w)) for w in words)


class Publisher:
    """The writing end of a cluster's stream."""

    def __init__(self, endpoint, stream):
        host, port = endpoint.rsplit(":", 1)
        self.redis = redis.Redis(host=host, port=int(port),
                                 username=os.environ.get("QVP_REDIS_USER") or None,
                                 password=os.environ.get("QVP_REDIS_PASSWORD") or None)
        self.stream = stream
        self.clock = 0.0
        self.ids = {}

    def send(self, *words, element_id=None):
        fields = {"v": RECORD_VERSION, "op": tcl_list(words)}
        if element_id is not None:
            fields["id"] = element_id
        return self.redis.xadd(self.stream, fields)

    def add(self, canvas, *words):
        """canvas add CANVAS WORDS...; returns the element id it chose."""
        self.ids[canvas] = self.ids.get(canvas, 0) + 1
        self.send("canvas", "add", canvas, *words, element_id=self.ids[canvas])
        return self.ids[canvas]

    def tick(self, seconds):
        self.clock += seconds
        self.redis.set(self.stream + ":clock", repr(self.clock))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--redis", default="127.0.0.1:6379", help="HOST:PORT")
    ap.add_argument("--stream", default="st")
    ap.add_argument("--steps", type=int, default=50, help="steps of the counter")
    ap.add_argument("--pace", type=float, default=0.02, help="seconds between steps")
    args = ap.parse_args()
    p = Publisher(args.redis, args.stream)
    p.send("canvas", "create", "py_board", "-org", "0 0.5 0", "-colvec", "8 0 0", "-rowvec", "0 -5 0",
           "-cols", 160, "-rows", 100, "-bg", "0.1 0.2 0.35")
    p.add("py_board", "text", 80, 20, "-text", "from Python {via Redis}", "-size", "7 7")
    counter = p.add("py_board", "text", 80, 50, "-text", "step 0", "-size", "9 9")
    lamp = p.add("py_board", "circle", 80, 80, 8, "-fill", "0.95 0.75 0.2")
    for step in range(1, args.steps + 1):
        p.send("canvas", "itemconfigure", "py_board", counter, "-text", "step %d" % step)
        p.send("canvas", "itemconfigure", "py_board", lamp, "-fill", "0.2 0.8 0.3" if step % 2 else "0.95 0.75 0.2")
        p.tick(1 / 60)
        time.sleep(args.pace)
    print("published %d steps to stream %s" % (args.steps, args.stream))


if __name__ == "__main__":
    main()
