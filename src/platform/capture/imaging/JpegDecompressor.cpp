#include "capture/imaging/JpegDecompressor.h"

#include <jerror.h>

#include <cstdio>

JpegDecompressor::JpegDecompressor() {
    info_.err = jpeg_std_error(&errors_);
    errors_.error_exit = stop;
    errors_.emit_message = warn;
    errors_.output_message = [](j_common_ptr) {}; // everything is said through failure()
    jpeg_create_decompress(&info_);
    info_.mem->max_memory_to_use = memoryLimit;
    progress_.progress_monitor = checkScans;
    info_.progress = &progress_;
}

JpegDecompressor::~JpegDecompressor() {
    jpeg_destroy_decompress(&info_);
}

void JpegDecompressor::stop(j_common_ptr common) {
    auto* errors = static_cast<Errors*>(common->err);
    errors->format_message(common, errors->message);
    std::longjmp(errors->jump, 1);
}

void JpegDecompressor::warn(j_common_ptr common, int level) {
    if (level >= 0)
        return; // trace messages
    auto* errors = static_cast<Errors*>(common->err);
    switch (errors->msg_code) {
    case JWRN_JFIF_MAJOR:  // a newer JFIF revision: the picture is still readable
    case JWRN_ADOBE_XFORM: // an unknown colour transform, read as none
    case JWRN_BOGUS_ICC:   // we do not use colour profiles
        return;
    case JWRN_EXTRANEOUS_DATA:
        // Padding before a restart marker, which several cameras write: libjpeg finds the
        // marker and the picture is whole. Before the end of the picture the bytes are what
        // is left of damaged entropy data (the picture above them is guessed); anywhere else
        // they belong to a segment that was cut short.
        if (const int marker = errors->msg_parm.i[1]; marker >= 0xd0 && marker <= 0xd7) {
            ++errors->tolerated;
            return;
        }
        break;
    case JWRN_JPEG_EOF:
        errors->endedEarly = true;
        break;
    default: // corrupt data: the rest of the picture would be guessed
        break;
    }
    stop(common);
}

void JpegDecompressor::checkScans(j_common_ptr common) {
    auto* info = reinterpret_cast<j_decompress_ptr>(common);
    if (info->input_scan_number <= maximumScans)
        return;
    auto* errors = static_cast<Errors*>(common->err);
    std::snprintf(errors->message, sizeof errors->message, "more than %d progressive scans", maximumScans);
    std::longjmp(errors->jump, 1);
}
