// The module's FLAC, Ogg Vorbis, Opus and MP3 encoders: none, as it only ever reads audio files.
//
// libsndfile calls these entry points only to write such files. Defined here, they keep the
// linker from taking the encoders, with their tables, out of the codec libraries' archives: a
// third of the module's size (a link that still needed one of those objects would fail on a
// name defined twice). Each one fails as the encoder does when it cannot start; nothing in the
// module calls them.
#include <FLAC/stream_encoder.h>
#include <opus/opus_multistream.h>
#include <sndfile.h>
#include <vorbis/vorbisenc.h>

extern "C" {

// libsndfile names a failed start by its status.
const char* const FLAC__StreamEncoderInitStatusString[] = {
    "FLAC__STREAM_ENCODER_INIT_STATUS_OK",
    "FLAC__STREAM_ENCODER_INIT_STATUS_ENCODER_ERROR",
    "FLAC__STREAM_ENCODER_INIT_STATUS_UNSUPPORTED_CONTAINER",
    "FLAC__STREAM_ENCODER_INIT_STATUS_INVALID_CALLBACKS",
    "FLAC__STREAM_ENCODER_INIT_STATUS_INVALID_NUMBER_OF_CHANNELS",
    "FLAC__STREAM_ENCODER_INIT_STATUS_INVALID_BITS_PER_SAMPLE",
    "FLAC__STREAM_ENCODER_INIT_STATUS_INVALID_SAMPLE_RATE",
    "FLAC__STREAM_ENCODER_INIT_STATUS_INVALID_BLOCK_SIZE",
    "FLAC__STREAM_ENCODER_INIT_STATUS_INVALID_MAX_LPC_ORDER",
    "FLAC__STREAM_ENCODER_INIT_STATUS_INVALID_QLP_COEFF_PRECISION",
    "FLAC__STREAM_ENCODER_INIT_STATUS_BLOCK_SIZE_TOO_SMALL_FOR_LPC_ORDER",
    "FLAC__STREAM_ENCODER_INIT_STATUS_NOT_STREAMABLE",
    "FLAC__STREAM_ENCODER_INIT_STATUS_INVALID_METADATA",
    "FLAC__STREAM_ENCODER_INIT_STATUS_ALREADY_INITIALIZED",
};

FLAC__StreamEncoder* FLAC__stream_encoder_new(void) { return nullptr; }
void FLAC__stream_encoder_delete(FLAC__StreamEncoder*) {}
FLAC__bool FLAC__stream_encoder_set_channels(FLAC__StreamEncoder*, uint32_t) { return false; }
FLAC__bool FLAC__stream_encoder_set_bits_per_sample(FLAC__StreamEncoder*, uint32_t) { return false; }
FLAC__bool FLAC__stream_encoder_set_sample_rate(FLAC__StreamEncoder*, uint32_t) { return false; }
FLAC__bool FLAC__stream_encoder_set_compression_level(FLAC__StreamEncoder*, uint32_t) { return false; }
FLAC__bool FLAC__stream_encoder_set_metadata(FLAC__StreamEncoder*, FLAC__StreamMetadata**, uint32_t) { return false; }
FLAC__StreamEncoderInitStatus FLAC__stream_encoder_init_stream(FLAC__StreamEncoder*, FLAC__StreamEncoderWriteCallback,
                                                               FLAC__StreamEncoderSeekCallback, FLAC__StreamEncoderTellCallback,
                                                               FLAC__StreamEncoderMetadataCallback, void*) {
    return FLAC__STREAM_ENCODER_INIT_STATUS_ENCODER_ERROR;
}
FLAC__bool FLAC__stream_encoder_process_interleaved(FLAC__StreamEncoder*, const FLAC__int32[], uint32_t) { return false; }
FLAC__bool FLAC__stream_encoder_finish(FLAC__StreamEncoder*) { return false; }

int vorbis_encode_init_vbr(vorbis_info*, long, long, float) { return OV_EIMPL; }

OpusMSEncoder* opus_multistream_encoder_create(opus_int32, int, int, int, const unsigned char*, int, int* error) {
    if (error != nullptr) *error = OPUS_UNIMPLEMENTED;
    return nullptr;
}
OpusMSEncoder* opus_multistream_surround_encoder_create(opus_int32, int, int, int*, int*, unsigned char*, int, int* error) {
    if (error != nullptr) *error = OPUS_UNIMPLEMENTED;
    return nullptr;
}
int opus_multistream_encode_float(OpusMSEncoder*, const float*, int, unsigned char*, opus_int32) { return OPUS_UNIMPLEMENTED; }
int opus_multistream_encoder_ctl(OpusMSEncoder*, int, ...) { return OPUS_UNIMPLEMENTED; }
void opus_multistream_encoder_destroy(OpusMSEncoder*) {}

// libsndfile's own MP3 writer (mpeg_l3_encode.c, over LAME), by its internal names, as its
// calls into LAME are too many to stand in for.
struct sf_private_tag;
int mpeg_l3_encoder_init(sf_private_tag*, int) { return SF_ERR_UNSUPPORTED_ENCODING; }
int mpeg_l3_encoder_write_id3tag(sf_private_tag*) { return SF_ERR_UNSUPPORTED_ENCODING; }
int mpeg_l3_encoder_set_quality(sf_private_tag*, double) { return SF_FALSE; }
int mpeg_l3_encoder_set_bitrate_mode(sf_private_tag*, int) { return SF_FALSE; }
int mpeg_l3_encoder_get_bitrate_mode(sf_private_tag*) { return -1; }
}
