// Names of the 64 debug modules, indexed by module number; writable by the program.
#include "base/ztc/debug/debug.h"

extern "C" {
const char *debug_type_strings[DEBUG_MODULE_COUNT] = {
    "GENERIC", "BASE",    "IO",      "AUDIO",    "VIDEO",   "TRANSFORM", "DATA",    "USB",
    "VJB",     "PHONE",   "EVSIP",   "GUI",      "INPUT",   "PMEDIA",    "PAUDIO",  "PVIDEO",
    "MESSAGE", "RTCP",    "FW",      "HTTP",     "TUNNEL",  "PLOGGER",   "PNET",    "PLWIP",
    "LIPSYNC", "HW",      "HWAUDIO", "HWVIDEO",  "VM",      "VMDEC",     "VMENC",   "VMAUDIO",
    "VMVIDEO", "VMUSB",   "VMFW",    "RS",       "FPGA",    "TEST",      "UNUSED1", "UNUSED2",
    "UNUSED3", "UNUSED4", "UNUSED5", "UNUSED6",  "MP",      "DTMF",      "KERN",    "IOS",
    "WEBRTC",  "TAG",     "PGL",     "CRESTRON", "PTUNNEL", "MDIO",      "CSD",     "CSDTR",
    "CSDFW",   "CSDETH",  "ACTION",  "CEF",      "LYNCRS",  "JNI",       "CSHARE",  "MAX",
};
}
