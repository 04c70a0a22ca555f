"""A Modbus server that is not ours, for the link tests: Debian's pymodbus.

    pymodbusPeer.py tcp UNIT          listens on 127.0.0.1, prints "tcp 127.0.0.1:PORT"
    pymodbusPeer.py rtu UNIT PATH     serves Modbus RTU on the serial port PATH, prints "rtu ready"

Holding registers 0..299 start as (3 * i + 1) & 0xFFFF. It runs until killed.
"""
import asyncio
import logging
import sys

from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.server.async_io import ModbusSerialServer, ModbusTcpServer
from pymodbus.transaction import ModbusRtuFramer, ModbusSocketFramer


async def main():
    # Exception answers are part of the test; pymodbus would log each as an error.
    logging.getLogger("pymodbus").setLevel(logging.CRITICAL)
    mode, unit = sys.argv[1], int(sys.argv[2])
    block = ModbusSequentialDataBlock(0, [(3 * i + 1) & 0xFFFF for i in range(300)])
    slave = ModbusSlaveContext(hr=block, zero_mode=True)
    context = ModbusServerContext(slaves={unit: slave}, single=False)
    if mode == "tcp":
        server = ModbusTcpServer(context, framer=ModbusSocketFramer, address=("127.0.0.1", 0))
        task = asyncio.create_task(server.serve_forever())
        await server.serving
        print("tcp 127.0.0.1:%d" % server.server.sockets[0].getsockname()[1], flush=True)
        await task
    else:
        server = ModbusSerialServer(context, framer=ModbusRtuFramer, port=sys.argv[3], baudrate=38400)
        await server.start()
        print("rtu ready", flush=True)
        await server.serve_forever()


asyncio.run(main())
