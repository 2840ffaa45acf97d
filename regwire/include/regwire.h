// SPDX-License-Identifier: MIT
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
#define REGWIRE_ECRC (-5)     /* a bad CRC, a malformed reply, or one not to this request */
#define REGWIRE_ERANGE (-6)   /* a value to write does not fit its register(s) */
#define REGWIRE_ELOST (-7)    /* the device vanished; open the port again */
#define REGWIRE_EIO (-8)      /* any other failure of the line */
#define REGWIRE_EPENDING (-9) /* an earlier request may still be answered; nothing sent */
/* A Modbus exception reply with code c (1..255) gives REGWIRE_EXCEPTION_BASE - c. */
#define REGWIRE_EXCEPTION_BASE (-100)
#define REGWIRE_IS_EXCEPTION(r) \
    ((r) <= REGWIRE_EXCEPTION_BASE - 1 && (r) >= REGWIRE_EXCEPTION_BASE - 255)
#define REGWIRE_EXCEPTION_CODE(r) (REGWIRE_EXCEPTION_BASE - (r))

/*
 * Common rules of the functions below.
 *
 * Ports: port k (k >= 1) is the device named by the environment variable
 * REGWIRE_PORT<k>, for example REGWIRE_PORT6=/dev/pts/5; else by the line
 * "k = device" of the user's map file $XDG_CONFIG_HOME/regwire/ports.conf
 * (~/.config/regwire/ports.conf), else of /etc/regwire/ports.conf; else it is
 * /dev/ttyS<k-1>. All are read when the port is opened. The device
 * tcp:HOST:PORT makes port k a Modbus TCP connection whose unit identifier is
 * the station.
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
 * Late replies (serial): a slave heard answering late is learned. The allowance
 * grows to cover the delay seen (by a quarter more when the reply's arrival was
 * seen), up to REGWIRE_TURNAROUND_MAX_MS (default 2000, never below the
 * allowance; set it to REGWIRE_TURNAROUND_MS to keep the allowance fixed), and
 * decays a quarter of the way back toward the configured allowance (or a
 * quarter more than the slave took) with every reply that comes in time. A
 * slave never heard late keeps the configured allowance.
 *
 * Replies in step: a call returns success only with a reply that no other
 * request still awaiting an answer could have produced. A function 03 reply
 * names neither address nor request, only its shape: station, function and
 * byte count (a write's echo: address and quantity; an exception: station and
 * function only). A request awaits its answer from its send until its reply is
 * taken or its horizon passes: REGWIRE_TURNAROUND_MAX_MS and the line time of
 * request and reply; a reply later than this after its request is treated as
 * lost. On a serial line:
 *   - while an earlier read of the same shape may be answered, a read asks for
 *     up to 8 registers more (after its block, else before it) so that its
 *     reply takes another shape; the extra values are dropped. A slave that
 *     refuses the wider read (exception 2) is asked as the caller asked, and
 *     that wider read is not tried again;
 *   - otherwise (a write, or a read that cannot widen) the request waits, at
 *     most its response timeout, for the earlier request's horizon; when that is
 *     further off, nothing is sent and the call returns REGWIRE_EPENDING at once;
 *     Regwire_lastfailure() says for how long;
 *   - at most two requests to one station await their answers at once (a slave
 *     that works on one request at a time queues the rest, and each further
 *     request would make its replies later): a third call returns
 *     REGWIRE_EPENDING;
 *   - a reply of an earlier request's shape is that request's late reply and is
 *     skipped; an exact copy of a reply already taken is a repeat and is
 *     skipped (once a line has repeated a reply, the shape of an answered
 *     request stays in use until its horizon); on a real line, a reply
 *     complete before request and reply could have crossed the line at the
 *     port's speed is not this request's; a frame equal to the request just
 *     sent is its echo.
 * A caller that gets REGWIRE_EPENDING tries again later, as the programs do at
 * their next tick; the port stays open and nothing was sent.
 * Over TCP a reply counts only when its transaction id matches the request and
 * its unit and PDU answer it; a reply with another transaction id (late, or a
 * repeat) is skipped and the wait goes on; a stream whose framing is lost is
 * closed, and the next request connects again.
 *
 * Bound: a request ends within three response timeouts (the wait for a shape
 * included); a TCP request within its response timeout. A hang-up ends a
 * request at once. REGWIRE_EPENDING returns at once.
 *
 * Failures of the line: REGWIRE_ETIMEOUT, REGWIRE_ECRC, REGWIRE_EIO and
 * REGWIRE_EPENDING leave the port open, and the next request first reads
 * whatever has arrived (a late reply among it answers its request; the rest is
 * dropped; TCP: whole replies are kept for their transaction ids), so a late
 * reply is never taken for it. REGWIRE_ELOST (the device vanished: hang-up, EIO, connection
 * reset) closes the device; every later call on the port gives REGWIRE_ELOST
 * until OpenPort_Modbus() opens it again.
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
 * A serial device is opened for exclusive use (a pseudo-terminal by an
 * advisory lock only, which dies with the process, and at any parity: Linux
 * keeps no parity on one).
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
 *   REGWIRE_ECRC        a reply with a bad CRC, from another station or unit, with
 *                       another transaction or protocol id, or malformed (an
 *                       exception code 0, a byte count the reply does not carry)
 *   REGWIRE_ELOST       the device vanished
 *   REGWIRE_EIO         any other failure of the line
 *   REGWIRE_EPENDING    nothing sent: an earlier request whose reply would look
 *                       the same may still be answered (see "Replies in step")
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

/*
 * What went wrong in the last failing call on port `port`, in more words than
 * its result code: for an open, the device or TCP address and the operating
 * system's reason ("port 6 (/dev/ttyS5): open: No such file or directory"); for
 * a transfer, the device, the station and what happened, and for a call split
 * into several requests, which of them failed. A later success does not clear it.
 *
 * Copies the text with its terminating NUL into text[0 .. size-1], cut at a
 * character boundary when it is longer; writes nothing when text is NULL or
 * size <= 0. Returns the length of the whole text in bytes without the NUL, so
 * a result >= size means it was cut; 0 when nothing failed on the port yet.
 * Safe at any time, from any thread, for any port number.
 */
REGWIRE_API int32_t Regwire_lastfailure(int32_t port, char* text, int32_t size);

/*
 * The library's version as "MAJOR.MINOR.PATCH"; never NULL, static.
 */
REGWIRE_API const char* Regwire_version(void);

#ifdef __cplusplus
}
#endif

#endif /* REGWIRE_H */
