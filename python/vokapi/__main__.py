"""The package's command line:

    python3 -m vokapi plot REC.vok [--trial N] [-o OUT.png]

writes the picture of the gaze over time (``vokapi.plot.plot_trial``) of the
whole recording or of one trial; ``--kind scanpath`` or ``heatmap`` writes
the other pictures.  Trials are numbered from 0, by the identifiers given
with ``--start`` / ``--end`` (else each recording block is a trial).
"""

import argparse
import os
import sys


def _plot(args):
    import vokapi
    from vokapi import plot

    with vokapi.open(args.recording, consistency=args.consistency) as rec:
        if args.start or args.end:
            rec.trials(start=args.start, end=args.end)
        kw = {"eye": args.eye}
        if args.background:
            kw["background"] = args.background
        draw = {"trial": plot.plot_trial, "scanpath": plot.plot_scanpath, "heatmap": plot.plot_heatmap}[args.kind]
        fig = draw(rec, args.trial, **kw)
    out = args.output or os.path.splitext(os.path.basename(args.recording))[0] + ".png"
    fig.savefig(out, dpi=args.dpi)
    print(f"wrote {out}")


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m vokapi", description="Tools of the vokapi package.")
    commands = parser.add_subparsers(dest="command", required=True)
    p = commands.add_parser("plot", help="write a picture of a recording or of one trial (PNG, SVG, PDF)")
    p.add_argument("recording", help="the recording (.vok)")
    p.add_argument("--trial", type=int, default=None, help="trial number, from 0 (default: the whole recording)")
    p.add_argument("-o", "--output", help="picture file; its extension picks the format (default: REC.png here)")
    p.add_argument("--kind", choices=("trial", "scanpath", "heatmap"), default="trial",
                   help="gaze over time (default), fixations and saccades on the display, or fixation density")
    p.add_argument("--start", help="text of the messages that start a trial")
    p.add_argument("--end", help="text of the messages that end a trial")
    p.add_argument("--eye", choices=("left", "right"), help="eye shown (default: the left when recorded)")
    p.add_argument("--background", help="image under the scanpath or heatmap")
    p.add_argument("--consistency", type=int, choices=(0, 1, 2, 3), default=1, help="open option (default 1)")
    p.add_argument("--dpi", type=int, default=110)
    args = parser.parse_args(argv)
    if args.background and args.kind == "trial":
        parser.error("--background goes with --kind scanpath or heatmap")
    try:
        _plot(args)
    except (OSError, ValueError, ImportError) as e:
        print(f"python3 -m vokapi plot: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
