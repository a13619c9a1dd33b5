/*
 * zelwire.h - the binary interface of the zelwire socket transport.
 *
 * The communications core loads the library and reaches every export by its
 * ordinal.  On ELF the library exports one symbol, zelwireOrdinal(), which
 * answers the address of the export with a given ordinal (null for an
 * ordinal that is not exported); on Windows the same functions are exported
 * by ordinal only.  The records below cross that boundary byte for byte.
 *
 * Usable from C and C++.
 */
#ifndef ZELWIRE_ZELWIRE_H
#define ZELWIRE_ZELWIRE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && !defined(_WIN64)
#define ZELWIRE_CALL __cdecl
#else
#define ZELWIRE_CALL
#endif

/* Return codes shared by every operation. */
enum {
  ZOCO_RC_OK = 0,
  ZOCO_RC_YES = 1,              /* probe, conversationAlive; check: warnings only */
  ZOCO_RC_NO_DATA = 2,          /* peek: nothing to read yet */
  ZOCO_RC_BAD_HANDLE = 11,      /* handle not registered, or 0 */
  ZOCO_RC_NO_ADDRESS = 12,      /* host address not found */
  ZOCO_RC_NO_RESOURCE = 14,     /* no memory for the connect worker / no local port */
  ZOCO_RC_INVALID = 19,         /* bad network type, bad IPX text, bind arguments, wait failed */
  ZOCO_RC_MAPPER_FAILED = 21,   /* the server mapper exchange failed */
  ZOCO_RC_CANCELLED = 22,       /* cancelled through ReportStatus */
  ZOCO_RC_FAILED = 23           /* socket call failed, host closed, sign-on failed, ... */
};

/* Network types, in ZoCoConnDesc.networkType. */
enum { ZOCO_NET_TCPIP = 10, ZOCO_NET_IPX = 20 };

/* Message classes. */
enum { ZOCO_MSG_INFO = 0, ZOCO_MSG_WARNING = 1, ZOCO_MSG_ERROR = 2 };

/* Export ordinals.  15, 17 and 18 are not exported. */
enum {
  ZOCO_ORD_CREATE = 1,
  ZOCO_ORD_DESTROY = 2,
  ZOCO_ORD_CONNECT = 3,
  ZOCO_ORD_DISCONNECT = 4,
  ZOCO_ORD_SEND = 5,
  ZOCO_ORD_RECEIVE = 6,
  ZOCO_ORD_PEEK = 7,
  ZOCO_ORD_FLUSH = 8,
  ZOCO_ORD_PROBE = 9,
  ZOCO_ORD_ACCEPT = 10,
  ZOCO_ORD_ENCRYPT_PWD = 11,
  ZOCO_ORD_ENCRYPT_NEW_PWD = 12,
  ZOCO_ORD_UNSUPPORTED = 13,
  ZOCO_ORD_UNSUPPORTED_ARGS = 14,
  ZOCO_ORD_CONNECTION_CHECK = 16,
  ZOCO_ORD_ALIVE = 19
};

/* Conversation handle: the address of a conversation object; 0 is none. */
typedef void* ZoCoHandle;

#pragma pack(push, 1)

/* The record ReportStatus receives; valid only during the call. */
typedef struct ZoCoStatus {
  uint32_t statusValue;
  uint32_t reserved;       /* always 0 */
  const void* message;     /* the service message; read it with zelwireMessageText() */
} ZoCoStatus;

/* Answer 1 to ask the running step to cancel; anything else lets it go on. */
typedef int32_t(ZELWIRE_CALL* ZoCoReportStatus)(ZoCoStatus* status);

/* The connection description.  98 bytes on 32-bit targets; on 64-bit targets
 * each of the eight pointers takes 8 bytes, giving 130. */
typedef struct ZoCoConnDesc {
  const char* systemName;       /* host system name or dotted IPv4 address */
  const char* serviceName;      /* host server program, as the server mapper knows it */
  const char* userId;           /* or null */
  const char* password;         /* or null */
  const char* scopeName;        /* second key of the cached addresses */
  uint32_t callReportStatus;    /* nonzero: messages go to ReportStatus */
  uint32_t checkCancel;         /* nonzero: lookups poll ReportStatus for a cancel */
  uint32_t lastStatus;          /* working: last status value reported */
  uint32_t networkType;         /* ZOCO_NET_TCPIP or ZOCO_NET_IPX */
  ZoCoReportStatus ReportStatus;/* or null */
  void* owner;                  /* identity shown in library trace statements */
  uint16_t serverId;            /* carried in the sign-on datastreams */
  void* addressBuffer;          /* caller-supplied address, or null */
  uint32_t hostAddress;         /* working: resolved address, network byte order */
  char addressText[16];         /* working: text of the resolved address */
  uint32_t port;                /* working: mapper port, then the server's */
  uint32_t mapperReported;      /* working: message 1064 already reported */
  uint32_t bufferBufLen;        /* send buffer size; 0 = derive */
  uint32_t nBytesThold;         /* byte threshold; 0 = the buffer size */
  uint32_t numSendsBeforeFlush; /* sends before a forced flush; 0 = 32767 */
  uint32_t flushSendsAll;
  uint32_t naglingOn;           /* nonzero: Nagle stays on, no send buffering */
} ZoCoConnDesc;

/* Password block of ordinal 11; 62 bytes. */
typedef struct ZoCoPwdBlock {
  char userId[11];
  char password[11];
  uint8_t sequenceNumber[8];
  uint8_t clientSeed[8];
  uint8_t hostSeed[8];
  uint8_t substitute[8];     /* out */
  uint8_t verifyValue[8];    /* out */
} ZoCoPwdBlock;

/* New-password block of ordinal 12; 107 bytes. */
typedef struct ZoCoNewPwdBlock {
  char userId[11];
  char oldPassword[11];
  char newPassword[11];
  uint8_t sequenceNumber[8];
  uint8_t clientSeed[8];
  uint8_t hostSeed[8];
  uint8_t substitute[8];              /* out */
  uint8_t encryptedOldPassword[17];   /* out: 8 or 16 bytes, then a 0 byte */
  uint8_t encryptedNewPassword[17];   /* out: 8 or 16 bytes, then a 0 byte */
  uint8_t verifyValue[8];             /* out */
} ZoCoNewPwdBlock;

#pragma pack(pop)

/* A service message, as ZoCoStatus.message points to it.  The library's
 * message objects begin with this view; read it only during the callback. */
typedef struct ZoSvMessageView {
  uint32_t magic;        /* ZOSV_MESSAGE_MAGIC */
  uint32_t msgClass;     /* ZOCO_MSG_INFO, _WARNING or _ERROR */
  uint32_t number;       /* message number; 0 for a bare status report */
  const char* text;      /* NUL-terminated text with inserts replaced; "" when none */
} ZoSvMessageView;

#define ZOSV_MESSAGE_MAGIC 0x5A4F5356u /* "ZOSV" */

/* Text of a reported message, or "" when there is none. */
static inline const char* zelwireMessageText(const void* message) {
  const ZoSvMessageView* m = (const ZoSvMessageView*)message;
  return (m && m->magic == ZOSV_MESSAGE_MAGIC && m->text) ? m->text : "";
}
/* Class of a reported message (ZOCO_MSG_*), or -1 when there is none. */
static inline int zelwireMessageClass(const void* message) {
  const ZoSvMessageView* m = (const ZoSvMessageView*)message;
  return (m && m->magic == ZOSV_MESSAGE_MAGIC) ? (int)m->msgClass : -1;
}
/* Number of a reported message, or 0. */
static inline uint32_t zelwireMessageNumber(const void* message) {
  const ZoSvMessageView* m = (const ZoSvMessageView*)message;
  return (m && m->magic == ZOSV_MESSAGE_MAGIC) ? m->number : 0u;
}

/* One function-pointer type per export. */
typedef ZoCoHandle(ZELWIRE_CALL* ZoCoCreateFn)(void);
typedef void(ZELWIRE_CALL* ZoCoDestroyFn)(ZoCoHandle);
typedef int32_t(ZELWIRE_CALL* ZoCoConnectFn)(ZoCoHandle, ZoCoConnDesc*);
typedef int32_t(ZELWIRE_CALL* ZoCoDisconnectFn)(ZoCoHandle);
typedef int32_t(ZELWIRE_CALL* ZoCoSendFn)(ZoCoHandle, const void* data, int32_t length);
typedef int32_t(ZELWIRE_CALL* ZoCoReceiveFn)(ZoCoHandle, void* buffer, int32_t length, int32_t* count);
typedef int32_t(ZELWIRE_CALL* ZoCoPeekFn)(ZoCoHandle, void* buffer, int32_t length, int32_t* count);
typedef int32_t(ZELWIRE_CALL* ZoCoFlushFn)(ZoCoHandle);
typedef int32_t(ZELWIRE_CALL* ZoCoProbeFn)(ZoCoHandle);
typedef int32_t(ZELWIRE_CALL* ZoCoAcceptFn)(ZoCoHandle);
typedef int32_t(ZELWIRE_CALL* ZoCoEncryptPwdFn)(ZoCoHandle, ZoCoPwdBlock*);
typedef int32_t(ZELWIRE_CALL* ZoCoEncryptNewPwdFn)(ZoCoHandle, ZoCoNewPwdBlock*);
typedef int32_t(ZELWIRE_CALL* ZoCoUnsupportedFn)(ZoCoHandle);
typedef int32_t(ZELWIRE_CALL* ZoCoUnsupportedArgsFn)(ZoCoHandle, uint32_t, uint32_t, uint32_t);
typedef int32_t(ZELWIRE_CALL* ZoCoConnectionCheckFn)(ZoCoConnDesc*);
typedef int32_t(ZELWIRE_CALL* ZoCoAliveFn)(ZoCoHandle);

/* The one ELF entry point: the export with this ordinal, or null. */
typedef void* (*ZelwireOrdinalFn)(unsigned ordinal);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The layout is an external interface: pin it for both widths. */
#ifdef __cplusplus
#define ZELWIRE_ASSERT(c, m) static_assert(c, m)
#else
#define ZELWIRE_ASSERT(c, m) _Static_assert(c, m)
#endif
ZELWIRE_ASSERT(sizeof(ZoCoPwdBlock) == 62, "ZoCoPwdBlock is 62 bytes");
ZELWIRE_ASSERT(sizeof(ZoCoNewPwdBlock) == 107, "ZoCoNewPwdBlock is 107 bytes");
ZELWIRE_ASSERT(offsetof(ZoCoNewPwdBlock, verifyValue) == 99, "verifyValue at 99");
ZELWIRE_ASSERT(offsetof(ZoCoPwdBlock, verifyValue) == 54, "verifyValue at 54");
#if UINTPTR_MAX == 0xFFFFFFFFu
ZELWIRE_ASSERT(sizeof(ZoCoConnDesc) == 98, "ZoCoConnDesc is 98 bytes");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, callReportStatus) == 20, "offset 20");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, ReportStatus) == 36, "offset 36");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, owner) == 40, "offset 40");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, serverId) == 44, "offset 44");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, addressBuffer) == 46, "offset 46");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, hostAddress) == 50, "offset 50");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, addressText) == 54, "offset 54");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, port) == 70, "offset 70");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, mapperReported) == 74, "offset 74");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, bufferBufLen) == 78, "offset 78");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, nBytesThold) == 82, "offset 82");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, numSendsBeforeFlush) == 86, "offset 86");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, flushSendsAll) == 90, "offset 90");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, naglingOn) == 94, "offset 94");
ZELWIRE_ASSERT(sizeof(ZoCoStatus) == 12, "ZoCoStatus is 12 bytes");
#else
ZELWIRE_ASSERT(sizeof(ZoCoConnDesc) == 130, "ZoCoConnDesc is 130 bytes");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, serviceName) == 8, "offset 8");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, userId) == 16, "offset 16");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, password) == 24, "offset 24");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, scopeName) == 32, "offset 32");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, callReportStatus) == 40, "offset 40");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, checkCancel) == 44, "offset 44");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, lastStatus) == 48, "offset 48");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, networkType) == 52, "offset 52");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, ReportStatus) == 56, "offset 56");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, owner) == 64, "offset 64");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, serverId) == 72, "offset 72");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, addressBuffer) == 74, "offset 74");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, hostAddress) == 82, "offset 82");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, addressText) == 86, "offset 86");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, port) == 102, "offset 102");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, mapperReported) == 106, "offset 106");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, bufferBufLen) == 110, "offset 110");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, nBytesThold) == 114, "offset 114");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, numSendsBeforeFlush) == 118, "offset 118");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, flushSendsAll) == 122, "offset 122");
ZELWIRE_ASSERT(offsetof(ZoCoConnDesc, naglingOn) == 126, "offset 126");
ZELWIRE_ASSERT(sizeof(ZoCoStatus) == 16, "ZoCoStatus is 16 bytes");
#endif
#undef ZELWIRE_ASSERT

#endif /* ZELWIRE_ZELWIRE_H */
