#!/usr/bin/env python3
"""Runs Orvex operations over a folder of pictures on a Dask distributed cluster.

    examples/dask_batch.py INPUT_DIR OUTPUT_DIR OPERATION... [--recipe FILE]
                           [--scheduler tcp://HOST:PORT] [--workers N] [--format EXT]

Each task reads, processes and writes one file on the worker that runs it, so only file names
travel over the network: the workers must see INPUT_DIR and OUTPUT_DIR at the same paths (a shared
or network file system on a real cluster) and must be able to `import orvex`. Without
--scheduler a LocalCluster of --workers processes (default: the number of cores) is started on
this machine.

OPERATION is written as on the orvex-cli command line ("GaussianBlur=5,1", "Invert"); recipe
steps run first, then the operations given on the command line. A file that fails (unreadable,
an operation that cannot complete, an existing output) is reported at the end; the others go on.
Exit status: 0 when every file succeeded, 1 usage error, 2 when some files failed.
"""

import argparse
import os
import sys
import time

PICTURE_EXTENSIONS = {".jpg", ".jpeg", ".jpe", ".png", ".bmp", ".dib", ".gif", ".tif", ".tiff", ".webp"}


def process_file(source, target, steps, overwrite, quality):
    """Runs on a worker: one picture from file to file. Returns None or the reason it failed."""
    import orvex

    try:
        if os.path.exists(target) and not overwrite:
            return "exists (give --overwrite to replace it)"
        # All steps in one call: the picture goes into the engine's layout and back once.
        picture = orvex.apply_recipe(orvex.load(source), steps)
        orvex.save(picture, target, quality=quality, metadata_from=source)
        return None
    except Exception as error:  # every failure is the file's own, never the batch's
        return str(error) or type(error).__name__


def pictures_in(folder):
    names = sorted(os.listdir(folder))
    return [n for n in names if os.path.splitext(n)[1].lower() in PICTURE_EXTENSIONS and
            os.path.isfile(os.path.join(folder, n))]


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("input_dir")
    parser.add_argument("output_dir")
    parser.add_argument("operations", nargs="*", metavar="OPERATION")
    parser.add_argument("--recipe", help="a file with one operation per line, # comments")
    parser.add_argument("--scheduler", help="address of a running scheduler, tcp://HOST:PORT")
    parser.add_argument("--workers", type=int, default=os.cpu_count() or 1,
                        help="worker processes of the local cluster (default: the cores)")
    parser.add_argument("--format", help="write this format (jpg, png, tif, webp...) instead of the input's")
    parser.add_argument("--quality", type=int, default=92, help="JPEG quality 1..100 (default 92)")
    parser.add_argument("--overwrite", action="store_true", help="replace outputs that exist")
    return parser.parse_args(argv)


def main(argv=None):
    args = parse_arguments(sys.argv[1:] if argv is None else argv)
    import orvex

    # Every step is read here, before any work, so that a typing error costs nothing.
    try:
        steps = orvex.read_recipe(args.recipe) if args.recipe else []
        steps += orvex.parse_operations(args.operations)
    except (OSError, ValueError) as error:
        print(f"dask_batch: {error}", file=sys.stderr)
        return 1
    if not os.path.isdir(args.input_dir):
        print(f"dask_batch: {args.input_dir} is not a folder", file=sys.stderr)
        return 1
    names = pictures_in(args.input_dir)
    if not names:
        print(f"dask_batch: no pictures in {args.input_dir}", file=sys.stderr)
        return 1
    os.makedirs(args.output_dir, exist_ok=True)

    def target_of(name):
        stem, ext = os.path.splitext(name)
        return os.path.join(args.output_dir, stem + ("." + args.format.lstrip(".") if args.format else ext))

    from dask.distributed import Client, LocalCluster, as_completed

    cluster = None
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        # One thread per worker process: the engine spreads each operation over the cores itself,
        # and whole files side by side scale better than threads fighting over one process.
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    failures = []
    # Timed from the first task, so that the figure compares with other batch tools and not with
    # the cluster's start-up.
    started = time.monotonic()
    try:
        futures = {}
        for name in names:
            source = os.path.abspath(os.path.join(args.input_dir, name))
            target = os.path.abspath(target_of(name))
            future = client.submit(process_file, source, target, steps, args.overwrite, args.quality,
                                   key=f"orvex-{name}", pure=False)
            futures[future] = name
        for future in as_completed(futures):
            name = futures[future]
            try:
                reason = future.result()
            except Exception as error:  # a worker lost mid-task, say
                reason = str(error) or type(error).__name__
            if reason is not None:
                failures.append((name, reason))
        seconds = time.monotonic() - started
    finally:
        client.close()
        if cluster is not None:
            cluster.close()

    done = len(names) - len(failures)
    print(f"{done} done, {len(failures)} failed, {seconds:.1f} s ({done / seconds:.1f} pictures/s)")
    for name, reason in sorted(failures):
        print(f"  {name}: {reason}")
    return 0 if not failures else 2


if __name__ == "__main__":
    sys.exit(main())
