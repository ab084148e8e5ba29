#!/usr/bin/env python3
"""A TCP proxy that adds a round trip: every chunk waits half of it on the
way in and half on the way back, in order, without slowing the stream
otherwise, and a new connection's first bytes wait one more round trip
(TCP's handshake, which the kernel here completes at once). This kernel has no netem, so latency-bound work (many small
files, many ranges, TLS handshakes) is measured through this instead. It
holds at most 4 MiB on the way in each direction, as a TCP window would;
it models no loss.

  delay_proxy.py --listen ADDR:PORT --target ADDR:PORT --rtt-ms MS [--ready-file F]
"""
import argparse
import asyncio
import time


async def pipe(reader, writer, delay, first_extra=0.0):
    """Copies reader to writer, each chunk `delay` seconds after it came, the
    first one `first_extra` seconds later still."""
    # At most 64 chunks (4 MiB) on the way, like a TCP window: a sender that
    # keeps writing waits, and what a client hangs up on stays unsent.
    queue = asyncio.Queue(maxsize=64)

    async def pump():
        extra = first_extra
        while True:
            data = await reader.read(65536)
            await queue.put((time.monotonic() + delay + extra, data))
            extra = 0.0
            if not data:
                return

    async def drain():
        while True:
            due, data = await queue.get()
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                if writer.can_write_eof():
                    writer.write_eof()
                return
            writer.write(data)
            await writer.drain()

    try:
        await asyncio.gather(pump(), drain())
    except (ConnectionError, OSError):
        pass
    finally:
        writer.close()


async def serve(args):
    target_host, target_port = args.target.rsplit(":", 1)
    delay = args.rtt_ms / 2000.0

    async def on_client(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection(target_host, int(target_port))
        except OSError:
            client_writer.close()
            return
        # The kernel accepted at once; a real connection costs a round trip
        # before the client may send: its first bytes wait that much longer.
        await asyncio.gather(pipe(client_reader, server_writer, delay, 2 * delay),
                             pipe(server_reader, client_writer, delay))

    host, port = args.listen.rsplit(":", 1)
    server = await asyncio.start_server(on_client, host, int(port))
    if args.ready_file:
        with open(args.ready_file, "w") as f:
            f.write("ready\n")
    async with server:
        await server.serve_forever()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--listen", required=True)
    ap.add_argument("--target", required=True)
    ap.add_argument("--rtt-ms", type=float, required=True)
    ap.add_argument("--ready-file")
    args = ap.parse_args()
    try:
        asyncio.run(serve(args))
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
