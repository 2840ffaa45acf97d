/*
 * Regwire: a Modbus master for the holding registers of RTU and TCP slaves.
 *
 * Every function returns a 32-bit signed result: REGWIRE_OK (0) for success,
 * or one of the negative REGWIRE_E* codes below. Regwire_strerror() turns a
 * result into text. Buffers are arrays of 32-bit signed integers; a write only
 * reads its buffer (const), a read only writes it.
 */
#ifndef REGWIRE_H
#define REGWIRE_H

#include <stdint.h>

#if defined(REGWIRE_BUILDING)
#define REGWIRE_API __attribute__((visibility("default")))
#else
#define REGWIRE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results. */
#define REGWIRE_OK 0
#define REGWIRE_EBADARG (-1)  /* an argument is out of its range; nothing was sent */
#define REGWIRE_ENOTOPEN (-2) /* the port is not open */
#define REGWIRE_EOPEN (-3)    /* the device could not be opened */
#define REGWIRE_ETIMEOUT (-4) /* no complete reply within the response timeout */
#define REGWIRE_ECRC (-5)     /* a reply with a bad CRC or a malformed frame */
#define REGWIRE_ERANGE (-6)   /* a value to write does not fit its register(s) */
#define REGWIRE_ELOST (-7)    /* the device vanished; open the port again */
#define REGWIRE_EIO (-8)      /* any other failure of the line, or replies out of step */
/* A Modbus exception reply with code c gives REGWIRE_EXCEPTION_BASE - c. */
#define REGWIRE_EXCEPTION_BASE (-100)
#define REGWIRE_IS_EXCEPTION(r) \
    ((r) <= REGWIRE_EXCEPTION_BASE - 1 && (r) >= REGWIRE_EXCEPTION_BASE - 255)
#define REGWIRE_EXCEPTION_CODE(r) (REGWIRE_EXCEPTION_BASE - (r))

/*
 * Common rules of the functions below.
 *
 * Ports: port k (k >= 1) is the device named by the environment variable
 * REGWIRE_PORT<k>, read when the port is opened, for example
 * REGWIRE_PORT6=/dev/pts/5; without it, /dev/ttyS<k-1>. The value tcp:HOST:PORT
 * makes port k a Modbus TCP connection whose unit identifier is the station.
 * Several ports may be open at once; each may be used from any thread, one
 * request at a time per port.
 *
 * Arguments are checked before anything is sent: a call that fails with
 * REGWIRE_EBADARG or REGWIRE_ERANGE has not touched the line. The checks come in
 * that order, then whether the port is open (REGWIRE_ENOTOPEN).
 *
 * Timing: each request waits for its reply at most the time request and reply
 * take on the line at the port's speed (11 bits a character) plus a turnaround
 * allowance for the slave, 100 ms unless REGWIRE_TURNAROUND_MS says otherwise
 * (TCP: the allowance plus 50 ms). Inside a reply, a gap of 4 character times
 * (at least 20 ms) ends it. A call split into several requests stops at the
 * first failing one.
 *
 * Failures of the line: REGWIRE_ETIMEOUT, REGWIRE_ECRC and REGWIRE_EIO leave the
 * port open, and the next request first discards whatever is on the line, so a
 * late reply is never taken for it. REGWIRE_ELOST (the device vanished: hang-up,
 * EIO, connection reset) closes the device; every later call on the port gives
 * REGWIRE_ELOST until OpenPort_Modbus() opens it again.
 *
 * Buffers: a read writes the caller's buffer only when every request of the
 * call succeeded; on any failure the buffer is left exactly as it was. A write
 * only reads the buffer.
 */

/*
 * Opens port `port` with speed index `speed` and parity index `parity`, 8 data
 * bits and 1 stop bit. Opening a port that is open closes it first.
 *   speed:  0 4800, 1 9600, 2 19200, 3 38400, 4 57600, 5 115200, 6 230400,
 *           7 460800, 8 921600 bit/s (the nearest rate to the 961200 some lists show)
 *   parity: 0 none, 1 odd, 2 even
 * For a TCP port, speed and parity are checked the same way, then unused.
 * A serial device is opened for exclusive use.
 * Returns REGWIRE_OK, or:
 *   REGWIRE_EBADARG  port <= 0, or speed or parity out of range (no device touched)
 *   REGWIRE_EOPEN    the device cannot be opened, configured or locked (in use),
 *                    or the TCP address is malformed or refuses the connection;
 *                    the port is then closed
 */
REGWIRE_API int32_t OpenPort_Modbus(int32_t port, int32_t speed, int32_t parity);

/*
 * Closes port `port`, also after REGWIRE_ELOST.
 * Returns REGWIRE_OK, or:
 *   REGWIRE_EBADARG   port <= 0
 *   REGWIRE_ENOTOPEN  the port is not open
 */
REGWIRE_API int32_t ClosePort_Modbus(int32_t port);

/*
 * Reads `count` (1..125) holding registers from address `start` (0..65535,
 * start + count - 1 <= 65535) of station `station` (1..247) with function 03.
 * buffer[i] receives register start + i, sign-extended from 16 bits
 * (0xFFFF gives -1).
 * Returns REGWIRE_OK, or:
 *   REGWIRE_EBADARG     an argument out of range, or buffer NULL
 *   REGWIRE_ENOTOPEN    the port is not open
 *   REGWIRE_ETIMEOUT    no complete reply in time
 *   REGWIRE_ECRC        a reply with a bad CRC, from another station, or malformed
 *   REGWIRE_ELOST       the device vanished
 *   REGWIRE_EIO         any other failure of the line
 *   REGWIRE_EXCEPTION_BASE - c   the slave answered with exception code c
 */
REGWIRE_API int32_t Get_4X_DX(int32_t port, int32_t station, int32_t start, int32_t count,
                              int32_t* buffer);

/*
 * Writes buffer[0 .. count-1] to `count` (1..125) holding registers from
 * `start` of station `station` (0..247; 0 is a broadcast, which no slave
 * answers: success means it was sent) with function 16, split into requests of
 * at most 123 registers. Every value must fit 16 bits, signed or unsigned
 * (-32768..65535).
 * Returns REGWIRE_OK, or the results of Get_4X_DX() and:
 *   REGWIRE_ERANGE   a value outside -32768..65535; nothing was sent
 * When a later request of a split call fails, the earlier ones were written.
 */
REGWIRE_API int32_t Set_4X_DX(int32_t port, int32_t station, int32_t start, int32_t count,
                              const int32_t* buffer);

/*
 * Reads `count` (1..64) 32-bit values from 2 * count holding registers from
 * `start` (start + 2 * count - 1 <= 65535) of station `station` (1..247) with
 * function 03. Value i is register start + 2i as the high word and register
 * start + 2i + 1 as the low word. Beyond 125 registers the call is split into
 * requests that never separate a value's two registers.
 * Returns as Get_4X_DX().
 */
REGWIRE_API int32_t Get_4X_LDX(int32_t port, int32_t station, int32_t start, int32_t count,
                               int32_t* buffer);

/*
 * Writes `count` (1..64) 32-bit values from buffer to 2 * count registers from
 * `start` of station `station` (0..247, 0 a broadcast) with function 16, the
 * high word first, in requests of at most 122 registers (61 values).
 * Returns as Set_4X_DX(), without REGWIRE_ERANGE: every value fits.
 */
REGWIRE_API int32_t Set_4X_LDX(int32_t port, int32_t station, int32_t start, int32_t count,
                               const int32_t* buffer);

/*
 * A text for a result code; never NULL. An exception result names its code,
 * e.g. "Modbus exception 2 (illegal data address)". The text is static.
 */
REGWIRE_API const char* Regwire_strerror(int32_t result);

#ifdef __cplusplus
}
#endif

#endif /* REGWIRE_H */
