/* SPDX-License-Identifier: MIT */
/*
 * Reads 10 holding registers of one slave through Regwire port K and prints
 * them, as a program of your own would.
 *
 *   cc read_registers.c $(pkg-config --cflags --libs regwire) -o read_registers
 *   ./read_registers K [STATION [START]]
 *
 * The port opens at 19200 bit/s (speed index 2) with no parity (index 0);
 * station 1 and register 0 unless given.
 */
#include <regwire.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        fprintf(stderr, "usage: %s K [STATION [START]]\n", argv[0]);
        return 2;
    }
    const int32_t port = (int32_t)atoi(argv[1]);
    const int32_t station = argc > 2 ? (int32_t)atoi(argv[2]) : 1;
    const int32_t start = argc > 3 ? (int32_t)atoi(argv[3]) : 0;
    int32_t values[10];

    int32_t rc = OpenPort_Modbus(port, 2, 0);
    if (rc == REGWIRE_OK) {
        rc = Get_4X_DX(port, station, start, 10, values);
        ClosePort_Modbus(port);
    }
    if (rc != REGWIRE_OK) {
        char why[256];
        Regwire_lastfailure(port, why, (int32_t)sizeof why);
        fprintf(stderr, "%s (%s)\n", Regwire_strerror(rc), why);
        return 1;
    }
    for (int i = 0; i < 10; ++i) printf("%d: %d\n", (int)(start + i), (int)values[i]);
    return 0;
}
