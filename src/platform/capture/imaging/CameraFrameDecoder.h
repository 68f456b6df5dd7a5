#pragma once
// A webcam's frames, MJPEG or packed YUYV at whatever mode the camera runs, turned into the
// frame the pipeline takes (RGBA, 8 bits, red first; see CVPixelBuffer.h). A picture of
// other proportions or size is scaled to cover the frame, its proportions kept, and cropped
// to the centre; a picture of the frame's size passes through unscaled.
//
// One decoder serves one stream: it keeps libjpeg's decompressor, the resampling weights
// (worked out again only when the mode changes) and its row buffers from frame to frame.
// It is confined to the thread that reads the camera.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/imaging/FrameResampler.h"
#include "capture/imaging/FrameScaling.h"

class JpegDecompressor;

// Where in a sourceWidth × sourceHeight camera picture the destination frame comes from:
// the centred crop with the destination's proportions.
SourceRect coverCrop(int sourceWidth, int sourceHeight, int destinationWidth, int destinationHeight);

// The middle 1/zoom of `area` in each direction: digital zoom (1 or less: all of it).
SourceRect zoomedInto(SourceRect area, double zoom);

class CameraFrameDecoder {
  public:
    CameraFrameDecoder();
    ~CameraFrameDecoder();
    CameraFrameDecoder(const CameraFrameDecoder&) = delete;
    CameraFrameDecoder& operator=(const CameraFrameDecoder&) = delete;

    // Decodes one MJPEG frame (with or without its Huffman tables: MJPEG commonly leaves
    // out the standard ones) into the RGBA destination, zoomed by `zoom` within the
    // cover crop in the same pass. False with a one-line `reason` when the frame is
    // damaged; the destination is then partly written and the caller drops the frame.
    bool decodeJpegFrame(const uint8_t* jpeg, size_t size, uint8_t* rgba, int width, int height,
                         size_t bytesPerRow, std::string* reason, double zoom = 1.0);

    // How many MJPEG frames so far decoded whole in spite of a warning from libjpeg.
    unsigned long framesWithWarnings() const { return framesWithWarnings_; }

    // The same for a packed YUYV (YUY2) frame of even width, BT.601 limited range.
    void convertYuyvFrame(const uint8_t* yuyv, int sourceWidth, int sourceHeight, size_t sourceBytesPerRow,
                          uint8_t* rgba, int width, int height, size_t bytesPerRow, double zoom = 1.0);

  private:
    struct Geometry {
        int sourceWidth = 0, sourceHeight = 0;
        SourceRect crop{};
        int destinationWidth = 0, destinationHeight = 0;
        friend bool operator==(const Geometry&, const Geometry&) = default;
    };
    bool decodeJpeg(const uint8_t* jpeg, size_t size, uint8_t* rgba, int width, int height,
                    size_t bytesPerRow, std::string* reason, double zoom);
    // Works out the resampling and sizes the buffers, unless the last frame had the same.
    void prepare(const Geometry& geometry);

    std::unique_ptr<JpegDecompressor> jpeg_;
    FrameResampler resampler_;
    Geometry prepared_;
    std::vector<uint8_t> decodedRows_; // a ring of rowTaps() decoded rows
    std::vector<const uint8_t*> rowsToBlend_;
    std::vector<uint8_t> blended_, converted_;
    unsigned long framesWithWarnings_ = 0;
};
