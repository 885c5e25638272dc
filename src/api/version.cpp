// What the library is: its version and what it reads.
#include "aamsg.h"

extern "C" {

const char* aamsg_version(void) { return AAMSG_VERSION_STRING; }

unsigned aamsg_version_number(void) { return AAMSG_VERSION_NUMBER; }

unsigned aamsg_features(void) { return AAMSG_READS_MP3; }

}  // extern "C"
