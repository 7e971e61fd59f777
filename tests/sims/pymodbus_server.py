#!/usr/bin/python3
"""A Modbus TCP server on pymodbus (Debian's python3-pymodbus), an independent peer for the
tests: 1000 coils, discrete inputs, holding and input registers at protocol addresses 0 to 999,
served to every unit. Prints its port as the first line of stdout, then takes commands on
stdin, one a line, that reach the tables through pymodbus's own data store:
    set co|di|hr|ir ADDRESS VALUE   answers "ok" or "error"
    get co|di|hr|ir ADDRESS         answers the value, or "error"
    quit                            ends the program (as does the end of stdin)
usage: pymodbus_server.py [--port N]   (0, the default: a free port) on 127.0.0.1
"""
import asyncio
import logging
import sys
import threading

from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.server.async_io import ModbusTcpServer

SIZE = 1000
# The function code pymodbus's store files each table under.
TABLES = {"co": 1, "di": 2, "hr": 3, "ir": 4}


def run_commands(store, loop, stop):
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        if words[0] == "quit":
            break
        try:
            table = TABLES[words[1]]
            address = int(words[2])
            if not 0 <= address < SIZE:
                raise ValueError(address)
            if words[0] == "set":
                store.setValues(table, address, [int(words[3])])
                print("ok", flush=True)
            elif words[0] == "get":
                print(int(store.getValues(table, address, 1)[0]), flush=True)
            else:
                print("error", flush=True)
        except (IndexError, KeyError, ValueError):
            print("error", flush=True)
    loop.call_soon_threadsafe(stop.set)


async def main():
    port = 0
    args = sys.argv[1:]
    if len(args) == 2 and args[0] == "--port":
        port = int(args[1])
    elif args:
        print(__doc__, file=sys.stderr)
        return 2
    logging.disable(logging.CRITICAL)
    # zero_mode: protocol address N is the store's address N.
    store = ModbusSlaveContext(
        co=ModbusSequentialDataBlock(0, [0] * SIZE),
        di=ModbusSequentialDataBlock(0, [0] * SIZE),
        hr=ModbusSequentialDataBlock(0, [0] * SIZE),
        ir=ModbusSequentialDataBlock(0, [0] * SIZE),
        zero_mode=True,
    )
    context = ModbusServerContext(slaves=store, single=True)
    loop = asyncio.get_running_loop()
    server = ModbusTcpServer(context, address=("127.0.0.1", port), allow_reuse_address=True,
                             loop=loop)
    serving = asyncio.create_task(server.serve_forever())
    await server.serving
    print(server.server.sockets[0].getsockname()[1], flush=True)
    stop = asyncio.Event()
    threading.Thread(target=run_commands, args=(store, loop, stop), daemon=True).start()
    await stop.wait()
    await server.server_close()
    serving.cancel()
    return 0


if __name__ == "__main__":
    sys.exit(asyncio.run(main()))
