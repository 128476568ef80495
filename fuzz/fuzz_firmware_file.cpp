// Fuzz target: the firmware file readers (block form, then stream form), through a file named
// ".tg5" or ".bfl" as the first input byte chooses.
#include "firmware/firmware_file.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static lumo::fuzz::SilentMessages silent;
  static lumo::fuzz::ScratchFile blockFile("lumo-fuzz-firmware", ".tg5");
  static lumo::fuzz::ScratchFile streamFile("lumo-fuzz-firmware", ".bfl");
  if (size == 0) return 0;
  const lumo::fuzz::ScratchFile& file = (data[0] & 1) == 0 ? blockFile : streamFile;
  if (!file.Write(data + 1, size - 1)) return 0;

  lumo::FirmwareImage image;
  const int result = lumo::ReadFirmwareFile(file.Path(), image);
  if (result != 1) {
    // A failed read leaves the image empty.
    if (lumo::KindOf(image) != lumo::ImageKind::Empty || !image.data.empty()) __builtin_trap();
    return 0;
  }
  // The counts and the data agree, and stay within what a device can take.
  switch (lumo::KindOf(image)) {
    case lumo::ImageKind::Block:
      if (image.blockCount > lumo::kMaxFlashBlocks ||
          image.data.size() != size_t{image.blockCount} * lumo::kFlashBlockSize)
        __builtin_trap();
      break;
    case lumo::ImageKind::Stream:
      if (image.byteCount > lumo::kMaxStreamFileSize || image.data.size() != image.byteCount)
        __builtin_trap();
      break;
    case lumo::ImageKind::Empty:
      if (!image.data.empty()) __builtin_trap();
      break;
  }
  return 0;
}
