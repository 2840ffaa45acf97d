/*
 * Regwire: a Modbus master for the holding registers of RTU and TCP slaves.
 *
 * Every function returns a 32-bit signed result: REGWIRE_OK (0) for success,
 * or one of the negative REGWIRE_E* codes below. Regwire_strerror() turns a
 * result into text. Buffers are arrays of 32-bit signed integers.
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
#define REGWIRE_EBADARG (-1)    /* an argument is out of its range; nothing was sent */
#define REGWIRE_ENOTOPEN (-2)   /* the port is not open */
#define REGWIRE_EOPEN (-3)      /* the device could not be opened */
#define REGWIRE_ETIMEOUT (-4)   /* no complete reply within the response timeout */
#define REGWIRE_ECRC (-5)       /* a reply with a bad CRC or a malformed frame */
#define REGWIRE_ERANGE (-6)     /* a value to write does not fit its register(s) */
#define REGWIRE_ELOST (-7)      /* the device vanished; open the port again */
#define REGWIRE_EIO (-8)        /* any other failure of the line */
/* A Modbus exception reply with code c gives REGWIRE_EXCEPTION_BASE - c. */
#define REGWIRE_EXCEPTION_BASE (-100)
#define REGWIRE_IS_EXCEPTION(r) ((r) <= REGWIRE_EXCEPTION_BASE - 1 && (r) >= REGWIRE_EXCEPTION_BASE - 255)
#define REGWIRE_EXCEPTION_CODE(r) (REGWIRE_EXCEPTION_BASE - (r))

/* Opens port `port` with speed index `speed` and parity index `parity`. */
REGWIRE_API int32_t OpenPort_Modbus(int32_t port, int32_t speed, int32_t parity);

/* Closes port `port`. */
REGWIRE_API int32_t ClosePort_Modbus(int32_t port);

/* Reads `count` 16-bit holding registers from `start` into buffer[0 .. count-1]. */
REGWIRE_API int32_t Get_4X_DX(int32_t port, int32_t station, int32_t start, int32_t count,
                              int32_t* buffer);

/* Writes buffer[0 .. count-1] to `count` 16-bit holding registers from `start`. */
REGWIRE_API int32_t Set_4X_DX(int32_t port, int32_t station, int32_t start, int32_t count,
                              int32_t* buffer);

/* Reads `count` 32-bit values, each from two registers, from `start` into buffer. */
REGWIRE_API int32_t Get_4X_LDX(int32_t port, int32_t station, int32_t start, int32_t count,
                               int32_t* buffer);

/* Writes `count` 32-bit values from buffer to 2 * count registers from `start`. */
REGWIRE_API int32_t Set_4X_LDX(int32_t port, int32_t station, int32_t start, int32_t count,
                               int32_t* buffer);

/* A text for a result code; never NULL. */
REGWIRE_API const char* Regwire_strerror(int32_t result);

#ifdef __cplusplus
}
#endif

#endif /* REGWIRE_H */
