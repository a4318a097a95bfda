// The image library: numbered RGBA images, the codec registry through which image files are read
// and written, the BMP reader and writer, palette reduction for indexed output, and the drawing
// library's output state.
//
// Colours handed to the library are 32-bit values with red in the lowest byte (0x00BBGGRR).
// Formats are named by a FormatTag: the letters of the format's name with the first letter in the
// lowest byte (BMP is 0x504D42).
//
// Decoding runs through the DecodeState: a start routine offers the source to each registered
// decoder in turn, the first that accepts it fills in the picture's attributes, the caller reads
// them, supplies a pixel buffer, lets the decoder fill it and ends the decode:
//   ImageDecodeStartMemory (or ImageDecodeStartFile), the attribute accessors, ImageDecodePixels
//   once, ImageDecodeFinish.
// ImageLoad and ImageSave go from a file to an image object and back in one call.
//
// Nothing here throws or prints; failures are reported by a 0 or null result.
//
// Late-bound seams. The codec table: decoders and encoders register themselves at start-up
// (`BmpCodecRegister`, a start step) and the decode and save routines call them through their
// descriptors. The image registry's free callback (`ImageFree`, given to `RegistryCreate`), which
// the container library calls. The drawing state's end hook (`DrawingEndHook`), called when a
// reset ends a drawing.
#pragma once

#include <cstdint>
#include <cstdio>

#include "system/desktop/types.h"

namespace zn {

struct LinkedList;

// ---------------------------------------------------------------------------------------------
// Shared values.

// FormatTag: a format named by its letters, the first letter in the lowest byte.
using FormatTag = int32_t;

// BmpFormatTag: "BMP".
inline constexpr FormatTag BmpFormatTag = 0x504D42;

// Row flag of the decoders and the writer: rows are in the file's bottom-up order.
inline constexpr uint32_t RowsBottomUp = 2;

// Pixel flag of the decoders: 4-byte pixels red, green, blue, alpha (255 where the file has no
// alpha), as image objects hold them, instead of the 3-byte default. Every pixel of the picture
// is written; those a run-length file skips become transparent black.
inline constexpr uint32_t PixelsRgba = 4;

// Pixel flag of the decoders, with PixelsRgba: every byte of the destination is 0 already (a
// fresh zero-filled block), so the pixels a run-length file skips are left as they are, already
// transparent black. Pages that no run reaches are then never touched and cost no memory.
inline constexpr uint32_t PixelsCleared = 8;

// Palette flag of the writer and the PaletteReducer: error-diffusion dithering.
inline constexpr uint32_t DitherFlag = 0x100;

// Fill modes of ImageCreate.
inline constexpr int32_t FillNone = 0;
inline constexpr int32_t FillColour = 1;
inline constexpr int32_t FillClear = 2;

// ---------------------------------------------------------------------------------------------
// Numbered images: a platform image with one 32-bit RGBA bitmap representation each, kept in the
// ImageRegistry under the program's number or, for AnyId, under the record's address.

// The largest width and height an image can have: the record keeps them in 16 bits.
inline constexpr int32_t kImageLargestSide = 32767;

// ImageRecord: one numbered image, its platform image and bitmap both owned.
struct ImageRecord {
  desktop::NSImage* image;            // owned; the record is live while this is set
  desktop::NSBitmapImageRep* bitmap;  // owned; holds the pixels
  int16_t width;
  int16_t height;
  int16_t depth;         // 32 for every image this library creates
  int16_t source_depth;  // of the file the image was read from; 32 for a created image
  int32_t attribute;
  int32_t frame_count;  // 1 at creation; the frame list is consulted from 2 on
  LinkedList* frames;   // ImageFrame values; null at creation
  int32_t second_attribute;
};

// A further frame of an image: both objects owned.
struct ImageFrame {
  desktop::NSImage* image;
  desktop::NSBitmapImageRep* bitmap;
};

// ImageLibraryInit: creates the ImageRegistry (once). Start-up step.
void ImageLibraryInit();

// ImageCreate: an image of width x height RGBA pixels under `id` (or AnyId), filled by `fill`:
// FillNone leaves the pixels as the platform gives them, FillColour sets every pixel to the colour
// (red in the lowest byte) with alpha 255, FillClear sets every byte to 0. An image that existed
// under the id is freed first. The record's address, or null when a side is outside 1 ... 32767
// or the platform refuses (no record is left behind).
ImageRecord* ImageCreate(int64_t id, int32_t width, int32_t height, int32_t fill, int32_t colour);

// ImageCreateBitmap: the platform image and, in *bitmap, its representation (both owned by the
// caller), filled as ImageCreate says; null (nothing left behind) when the platform refuses.
desktop::NSImage* ImageCreateBitmap(int32_t width, int32_t height, int32_t fill, int32_t colour,
                                    desktop::NSBitmapImageRep** bitmap);

// ImageFree: frees the image with this id (frames included); -1 frees every image; an id that
// names no image does nothing.
void ImageFree(int64_t id);

// ImageFreeAll: frees every image; the registry stays.
void ImageFreeAll();

// ImageLibraryEnd: end step. Frees every image, the ImageRegistry and the DecodeState (finishing
// a decode left open) and empties both codec tables; the start steps (DecodeStateInit,
// BmpCodecRegister, ImageLibraryInit) start the library again.
void ImageLibraryEnd();

// The accessors: 0 (null) for an id that names no image. ImageDepth gives the source depth for
// mode -2 and the depth otherwise.
int64_t ImageWidth(int64_t id);
int64_t ImageHeight(int64_t id);
int64_t ImageDepth(int64_t id, int32_t mode);
int64_t ImageBitsPerPixel(int64_t id);
desktop::NSImage* ImageHandle(int64_t id);

// ImageLoad: decodes the file through the codec registry (the first registered decoder that
// accepts it) into an image of RGBA pixels, red in the lowest byte, under `id` or AnyId, as
// ImageCreate would make it; its source depth is the file's bits per pixel. What ImageCreate
// returns for that id, or null when the file cannot be opened or is no regular file, no decoder
// accepts it, its sides lie outside 1 ... 32767, it has more pixels than the pixel budget, memory
// is exhausted, reading fails, or its pixels are damaged or end early; ImageLastFailure then says
// which. A failed load leaves nothing behind and keeps an image that had the id; a successful one
// replaces it. Pixels a run-length file skips are transparent black.
// A load never waits: the file is opened without blocking, and folders, devices, pipes and sockets
// are refused before a byte is read (a pipe's writer may never come).
ImageRecord* ImageLoad(int64_t id, const char* file_name);

// The pixel budget of ImageLoad when nothing else was set: pictures of more pixels are refused
// from their header, before any pixel block is made, so that a small file cannot claim gigabytes.
inline constexpr int64_t kImageDefaultPixelBudget = 178956970;

// ImagePixelBudgetSet: the most pixels (width x height) a picture loaded by ImageLoad may have;
// gives the budget it replaces. A budget below 1 is refused: nothing changes and the result is 0.
// The codec-level decode operations have no budget of their own: their caller sizes the pixels.
int64_t ImagePixelBudgetSet(int64_t pixels);

// ImagePixelBudget: the pixel budget of ImageLoad (kImageDefaultPixelBudget at first).
int64_t ImagePixelBudget();

// ImageSave: writes the image with this id to `file_name` through the encoder registered for
// `format` (BmpFormatTag: depth 1, 4, 8, 24 or 32). Colours are laid over white at every depth
// (before the palette is learned at 1, 4 and 8 bits), so a transparent pixel is saved white.
// `flags` may hold DitherFlag (error diffusion at 4 and 8 bits). 1 on success; 0 when the id names
// no image, the file name is null, no encoder has the format, the flags hold anything else, or
// the encoder fails; ImageLastFailure then says which.
// A regular file is replaced atomically: a failed save leaves an existing file with its old bytes.
// A symbolic link is followed to the file it names (created when the link dangles; the link stays);
// links that loop are refused. A device, a pipe or a FIFO with a reader is written directly, not
// atomically: what a failed save wrote there stays written. A FIFO nobody reads is refused.
int32_t ImageSave(int64_t id, const char* file_name, FormatTag format, int32_t depth,
                  uint32_t flags);

// ImagePixels: the pixels of the image with this id, width x 4 bytes a pixel row from the top,
// each pixel red, green, blue, alpha (not premultiplied), so a pixel read as a little-endian 32-bit
// value has red in its lowest byte; *bytes_per_row (when not null) gets the bytes from one row to
// the next. Valid until the image is freed or replaced. Null, and 0 in *bytes_per_row, for an id
// that names no image.
uint8_t* ImagePixels(int64_t id, int32_t* bytes_per_row);

// Why the last ImageLoad or ImageSave failed.
enum class ImageFailureReason : int32_t {
  kNone = 0,            // the last load or save succeeded (or none was made yet)
  kBadArgument,         // a null file name, or flags the operation does not know
  kNoSuchImage,         // ImageSave: the id names no image
  kUnknownFormat,       // ImageSave: no encoder is registered for the format
  kMissingFile,         // no file of that name, or a folder on its way is missing
  kAccessDenied,        // permission denied, or a read-only file system
  kNotRegularFile,      // a folder, device, pipe or socket where a file is read (or a folder
                        // where a file is saved)
  kWouldBlock,          // the file cannot be opened without waiting (a lease, a FIFO nobody
                        // reads)
  kLinkLoop,            // symbolic links that loop, or too many of them in a row
  kNameTooLong,         // the file name is longer than the system takes
  kNotAPicture,         // no decoder recognises the file
  kLayoutNotSupported,  // a known format in a layout (depth, compression) that cannot be read or
                        // written
  kDamaged,             // the header or the pixels are damaged, or the file ends early
  kTooLarge,            // a side of the picture lies outside 1 ... 32767
  kOverBudget,          // more pixels than ImagePixelBudget allows
  kOutOfMemory,         // memory is exhausted
  kReadError,           // reading the file failed
  kWriteError,          // writing the file failed (a full disk, the file-size limit, ...)
};

// ImageFailure: a reason and, where the system gave one, its errno value (0 otherwise).
struct ImageFailure {
  ImageFailureReason reason;
  int32_t system_error;
};

// ImageLastFailure: why the calling thread's last ImageLoad or ImageSave failed; {kNone, 0} when it
// succeeded. The codec-level operations leave it as it is.
ImageFailure ImageLastFailure();

// ImageFailureText: a short English text for the reason ("no such file", "not a picture"), static,
// without a final full stop; "unknown reason" for a value outside the enumeration.
const char* ImageFailureText(ImageFailureReason reason);

// ---------------------------------------------------------------------------------------------
// The drawing library's output state: the platform context being drawn into and the graphics
// objects, transforms, buffers and saved items that drawing keeps. Everything it holds is owned
// by it, so a reset returns every platform object and buffer.

struct DrawingState;
// DrawingEndHook: a routine the drawing state runs when a drawing ends.
using DrawingEndHook = void (*)(DrawingState* state);

// A saved item: next item first; its image and its two buffers (SizedBlocks) are owned.
struct SavedDrawingItem {
  SavedDrawingItem* next;
  desktop::CGImage* image;
  void* buffers[2];
};

// DrawingState: the drawing library's output state, one per thread.
struct DrawingState {
  desktop::CGContext* context;  // drawn into between the start and the end of a drawing
  void* context_value;
  uint8_t drawing_values[44];
  DrawingEndHook end_hook;  // called when the reset ends a drawing
  void* end_hook_value;
  void* hook_after_value;
  desktop::CGColorSpace* colour_space;  // owned
  desktop::CGAffineTransform transforms[5];
  desktop::CGAffineTransform saved_text_matrix;  // restored on the context when drawing ends
  desktop::CGAffineTransform sixth_transform;
  int32_t transform_flag;
  void* transform_value;
  desktop::CGImage* image;  // owned
  int32_t image_flag;
  void* image_value;
  int32_t image_value_flag;
  void* buffers[2];  // SizedBlocks, owned
  int32_t buffer_flag;
  desktop::CGGradient* gradient;  // owned
  SavedDrawingItem* saved_items;  // owned
  int32_t final_flag;
};

// DrawingStateInit: creates the DrawingState slot (once). Start-up step.
void DrawingStateInit();

// DrawingStateEnd: end step; resets the state (releasing what it holds) and frees its slot.
void DrawingStateEnd();

// DrawingStateCurrent: the calling thread's DrawingState; null before DrawingStateInit.
DrawingState* DrawingStateCurrent();

// DrawingStateReset: ends a drawing in progress (flush, text matrix back, end hook) and releases
// every platform object, buffer and saved item; the state is then as new, with identity
// transforms.
void DrawingStateReset(DrawingState* state);

// DrawingStateClearFill: releases the gradient and the image and clears their companion values.
void DrawingStateClearFill(DrawingState* state);

// ---------------------------------------------------------------------------------------------
// The codec registry.

struct ImageDecoder;

// DecodeState: the data block of the image library's ThreadSlot; one decode at a time.
struct DecodeState {
  const ImageDecoder* decoder;  // the decoder that accepted the source, null before
  void* reserved;
  std::FILE* stream;     // the open stream of a file source
  const void* memory;    // a memory source ...
  int32_t memory_size;   // ... and its size in bytes; the decoders never read past it
  int32_t from_memory;   // 1 for a memory source, 0 for a file source
  int32_t width;         // pixels
  int32_t height;        // as stored in the source; may be negative
  int32_t output_depth;  // bits per pixel of what the decoder writes
  void* scratch[8];      // the decoder's own words, cleared before each probe
  int32_t source_depth;  // bits per pixel stored in the source
  int32_t frame_count;   // 1 at start
  int32_t attribute;     // 0 at start
};

// ImageDecoder: a decoder's descriptor, static and owned by its codec.
struct ImageDecoder {
  // probe: nonzero when the decoder accepts the source, after filling in the attributes.
  int32_t (*probe)(DecodeState* state);
  // decode: writes the pixels into `destination` (rows of `bytes_per_row` bytes); nonzero when
  // the whole picture was written.
  int32_t (*decode)(DecodeState* state, void* destination, int32_t bytes_per_row, uint32_t flags);
  // cleanup: frees what probe and decode left in the state.
  void (*cleanup)(DecodeState* state);
  FormatTag tag;
};

// The saving operations of an encoder: file name (null for a new memory block), pixels, width,
// height, bytes per source row, row flags, palette flags, depth of the file. The result is 1 (or
// the memory block's address) on success, 0 on failure.
using ImageSaveOperation = int64_t (*)(const char* file_name, const void* pixels, int32_t width,
                                       int32_t height, int32_t bytes_per_row, uint32_t row_flags,
                                       uint32_t palette_flags, int32_t depth);

// ImageEncoder: an encoder's descriptor, static and owned by its codec.
struct ImageEncoder {
  FormatTag tag;
  ImageSaveOperation save24;  // from 3-byte pixels: red, green, blue
  ImageSaveOperation save32;  // from 4-byte pixels: red, green, blue, alpha
};

// The number of descriptors each codec table holds; registration beyond it is ignored.
inline constexpr int32_t kCodecTableEntries = 30;

// ImageDecoderRegister: appends a decoder; probing follows the order of registration.
void ImageDecoderRegister(const ImageDecoder* decoder);

// ImageEncoderRegister: appends an encoder.
void ImageEncoderRegister(const ImageEncoder* encoder);

// ImageDecoderCount, ImageDecoderAt, ImageEncoderCount, ImageEncoderAt: the registered
// descriptors; null for a position beyond the count.
int32_t ImageDecoderCount();
const ImageDecoder* ImageDecoderAt(int32_t position);
int32_t ImageEncoderCount();
const ImageEncoder* ImageEncoderAt(int32_t position);

// ImageEncoderFind: the encoder registered for `tag`, or null.
const ImageEncoder* ImageEncoderFind(FormatTag tag);

// DecodeStateInit: empties the decoder table and creates the DecodeState slot (once; a second
// call keeps the slot). Start-up step.
void DecodeStateInit();

// DecodeStateEnd: finishes a decode left open, frees the DecodeState slot and empties both codec
// tables (part of ImageLibraryEnd).
void DecodeStateEnd();

// ImageDecodeStartMemory: offers `size` bytes at `address` to the decoders. The tag of the
// decoder that accepted them, or 0 when none did. The block must live until ImageDecodeFinish.
// A decode that was started and not finished is finished first.
FormatTag ImageDecodeStartMemory(const void* address, int32_t size);

// ImageDecodeStartFile: the same for a file, opened for reading here and closed by
// ImageDecodeFinish; 0 (with nothing left open) when the file cannot be opened, is no regular file
// (it is opened without waiting, as ImageLoad opens it) or no decoder accepts it.
FormatTag ImageDecodeStartFile(const char* file_name);

// The attributes of the started decode, sign-extended.
int64_t ImageDecodeWidth();
int64_t ImageDecodeHeight();
int64_t ImageDecodeDepth();
int64_t ImageDecodeSourceDepth();
int64_t ImageDecodeFrameCount();
int64_t ImageDecodeAttribute();

// ImageDecodePixels: the accepting decoder's decode; 0 when no decode is started.
int32_t ImageDecodePixels(void* destination, int32_t bytes_per_row, uint32_t flags);

// ImageDecodeFinish: the accepting decoder's cleanup, and closing a file source. Without a
// started decode it does nothing; it is harmless to call twice.
void ImageDecodeFinish();

// ---------------------------------------------------------------------------------------------
// Palette reduction: a learned palette of 16 or 256 colours (or black and white for 2) and the
// packed palette indices of each row.

struct ColourNetwork;

// PaletteReducer: one reduction: the picture, the learned palette, the dither error.
struct PaletteReducer {
  uint8_t* pixels;  // RGBA rows of width * 4 bytes, one after another
  int32_t height;
  int32_t width;
  int32_t source_layout;   // 24 or 32
  uint32_t palette_flags;  // DitherFlag
  int32_t depth;           // 1, 4 or 8
  int32_t owns_pixels;     // 1 when pixels is the reducer's own copy
  uint8_t* row_buffer;     // width + 8 bytes: the packed indices of the last row asked for
  ColourNetwork* network;  // null at depth 1
  double gamma;
  int32_t carry[4];         // dither error kept from pixel to pixel and row to row: r, g, b, a
  uint8_t palette[256][4];  // red, green, blue, alpha; the first 2^depth entries are meaningful
};

// PaletteReducerCreate: learns the palette of a picture of 3-byte (layout 24, rows of
// `bytes_per_row` bytes) or 4-byte pixels (layout 32, rows of width * 4 bytes) for `depth` 1, 4
// or 8. Null when memory is exhausted or the arguments describe no picture.
PaletteReducer* PaletteReducerCreate(const void* pixels, int32_t width, int32_t height,
                                     int32_t source_layout, int32_t bytes_per_row, int32_t depth,
                                     uint32_t palette_flags);

// PaletteReducerRow: the packed indices of source row `row` (leftmost pixel in the most
// significant bits, bytes beyond the packed data zero), valid until the next call; null for a
// row outside the picture. With dithering, the result depends on the rows asked for before.
const uint8_t* PaletteReducerRow(PaletteReducer* reducer, int32_t row);

// PaletteReducerFree: frees the reducer and everything it owns; null does nothing.
void PaletteReducerFree(PaletteReducer* reducer);

// ---------------------------------------------------------------------------------------------
// The BMP codec.

// BmpCodecRegister: registers the BMP decoder, then the BMP encoder. Start-up step.
void BmpCodecRegister();

// BmpEncoderRegister: registers the BMP encoder.
void BmpEncoderRegister();

// BmpProbe: 1 when the state's source is a BMP file whose layout BmpDecode converts, filling in
// its attributes: 1-bit, 4-bit (plain or RLE4) and 8-bit (plain or RLE8) indexed pictures, 24-bit
// ones, 16- and 32-bit
// ones plain or with bit-field masks (compressions 3 and 6; each mask one run of at most 8 bits,
// none overlapping), with a 40-byte or longer info header or an OS/2 1.x one. Any other
// compression, depth or mask is refused here, before anything is allocated for pixels.
int32_t BmpProbe(DecodeState* state);

// BmpDecode: converts the pixels into 3-byte rows (red, green, blue; blue, green, red for 16-bit
// files) of |height| rows of `bytes_per_row` bytes, or 4-byte ones (red, green, blue, alpha) with
// PixelsRgba; rows are top row first unless `flags` holds RowsBottomUp. 16-bit files without
// masks are 5-5-5, 32-bit ones blue, green, red and an ignored byte; a masked channel of w bits
// is shifted to the top of its byte, low bits zero (31 of 5 bits is 248); alpha comes from the
// alpha mask, else it is 255. 1 when the whole picture was written; 0 when the layout cannot be
// converted (nothing written), when the rows cannot hold the width (nothing written), or when the
// data is damaged or ends early (what lies inside the bounds is written).
// Run-length data (RLE8, RLE4): a run that goes past the end of its row is clipped there; a run or
// line end below the last row, a delta past the end of its row or below the last row, an index
// beyond the colour table, or data that ends before the bitmap's end make the result 0, and the
// decode stops right there: pixels after the fault are left as they were. Pixels the runs skip
// (deltas, early line ends, an early end of the bitmap) are not written in 3-byte rows and are
// transparent black in 4-byte ones (left to the destination with PixelsCleared).
int32_t BmpDecode(DecodeState* state, void* destination, int32_t bytes_per_row, uint32_t flags);

// BmpCleanup: frees the loaded file copy.
void BmpCleanup(DecodeState* state);

// BmpSave: writes an uncompressed BMP file of `depth` 1, 4, 8, 24 or 32 bits per pixel from
// 3-byte (`source_layout` 24) or 4-byte (32) pixels, top row first unless `row_flags` holds
// RowsBottomUp. To a file: 1 on success, 0 on failure. A regular file (or one to be created) is
// written under a temporary name in its folder and renamed over the old one only when the whole
// new file was written, so a failed save leaves the old bytes; a symbolic link is followed to the
// file it names and stays a link; links that loop are refused; a file larger than the process's
// file-size limit is refused before a byte is written. A device or a pipe is written directly,
// not atomically. Without a file name: a new memory block of the file's size (free it with
// MemoryBlockFree) as an address, or 0. Sizes below 1 and files over 4 GiB are refused.
int64_t BmpSave(const char* file_name, const void* pixels, int32_t width, int32_t height,
                int32_t bytes_per_row, uint32_t row_flags, uint32_t palette_flags, int32_t depth,
                int32_t source_layout);

// BmpSave24, BmpSave32: BmpSave from 3-byte and from 4-byte pixels.
int64_t BmpSave24(const char* file_name, const void* pixels, int32_t width, int32_t height,
                  int32_t bytes_per_row, uint32_t row_flags, uint32_t palette_flags, int32_t depth);
int64_t BmpSave32(const char* file_name, const void* pixels, int32_t width, int32_t height,
                  int32_t bytes_per_row, uint32_t row_flags, uint32_t palette_flags, int32_t depth);

}  // namespace zn
