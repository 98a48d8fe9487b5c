#!/usr/bin/python3
"""A TCP proxy on loopback that behaves like a line with a round-trip time: every byte reaches the
other side half a round trip after it was sent, in order, in both directions, and a new connection
costs a round trip before its first byte goes on (the handshake). A request and its answer then cost
one round trip, a new connection another, as on a real network; bandwidth is left unlimited.

  latency_proxy.py LISTEN_PORT TARGET_PORT RTT_MS

Runs until it is killed; prints "ready" once it listens.
"""

import asyncio
import sys


async def pipe(reader, writer, delay):
    """Copies reader to writer, each chunk `delay` seconds after it arrived."""
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def deliver():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if data is None:
                break
            writer.write(data)
            await writer.drain()
        writer.close()

    sender = asyncio.create_task(deliver())
    try:
        while True:
            data = await reader.read(1 << 16)
            if not data:
                break
            await queue.put((loop.time() + delay, data))
    except ConnectionError:
        pass
    await queue.put((loop.time() + delay, None))
    try:
        await sender
    except ConnectionError:
        pass


async def main():
    listen_port, target_port, rtt = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]) / 1000

    async def accept(client_reader, client_writer):
        # The handshake: the client's first byte goes on one round trip after it connected.
        await asyncio.sleep(rtt)
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target_port)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pipe(client_reader, server_writer, rtt / 2), pipe(server_reader, client_writer, rtt / 2))

    server = await asyncio.start_server(accept, "127.0.0.1", listen_port, reuse_address=True)
    print("ready", flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
