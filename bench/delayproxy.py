#!/usr/bin/env python3
"""A far server for the benchmarks: forwards TCP connections from LISTEN_IP:445 to
TARGET_IP:445 and holds every chunk DELAY_MS in each direction (a round trip of twice that),
as a server across a busy office network or Wi-Fi would. Order within a connection is kept.

    delayproxy.py LISTEN_IP TARGET_IP DELAY_MS
"""
import asyncio
import sys
import time

listen_ip, target_ip, delay = sys.argv[1], sys.argv[2], float(sys.argv[3]) / 1000


async def pump(reader, writer):
    queue = asyncio.Queue()

    async def deliver():
        while True:
            due, data = await queue.get()
            if data is None:
                break
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            writer.write(data)
            await writer.drain()
        writer.close()

    task = asyncio.create_task(deliver())
    try:
        while True:
            data = await reader.read(65536)
            queue.put_nowait((time.monotonic() + delay, data or None))
            if not data:
                break
    finally:
        queue.put_nowait((0, None))
        await task


async def handle(client_reader, client_writer):
    try:
        server_reader, server_writer = await asyncio.open_connection(target_ip, 445)
    except OSError:
        client_writer.close()
        return
    await asyncio.gather(pump(client_reader, server_writer), pump(server_reader, client_writer),
                         return_exceptions=True)


async def main():
    server = await asyncio.start_server(handle, listen_ip, 445)
    async with server:
        await server.serve_forever()


asyncio.run(main())
