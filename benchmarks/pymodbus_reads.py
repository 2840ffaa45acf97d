#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Reads 64 holding registers from station 1 COUNT times with pymodbus's serial
client and prints how long each read took, in milliseconds, one per line.

usage: pymodbus_reads.py PTS COUNT
"""
import sys
import time

from pymodbus.client import ModbusSerialClient


def main():
    port, count = sys.argv[1], int(sys.argv[2])
    # pyserial refuses parity E or O on a pseudo-terminal, which ignores parity
    # anyway; the line is otherwise the one the other masters use.
    client = ModbusSerialClient(port=port, baudrate=38400, parity="N", timeout=1)
    if not client.connect():
        print(f"pymodbus: cannot open {port}", file=sys.stderr)
        return 1
    times = []
    for i in range(count + 3):
        began = time.perf_counter_ns()
        reply = client.read_holding_registers(0, count=64, slave=1)
        took = time.perf_counter_ns() - began
        if reply.isError() or len(reply.registers) != 64:
            print(f"pymodbus: read failed: {reply}", file=sys.stderr)
            return 1
        if i >= 3:  # the first reads warm up
            times.append(took / 1e6)
    client.close()
    print("\n".join(f"{t:.6f}" for t in times))
    return 0


if __name__ == "__main__":
    sys.exit(main())
