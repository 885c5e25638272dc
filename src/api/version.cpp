// What the library is: its version and what this build of it reads.
#include "aamsg.h"
#include "audio/audio.hpp"

extern "C" {

const char* aamsg_version(void) { return AAMSG_VERSION_STRING; }

unsigned aamsg_version_number(void) { return AAMSG_VERSION_NUMBER; }

unsigned aamsg_features(void) { return aamsg::readsMp3() ? AAMSG_READS_MP3 : 0u; }

}  // extern "C"
