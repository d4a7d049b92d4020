// The version record that our binaries embed and GetFileVersionInfo finds in
// the file: the stand-in for a VERSIONINFO resource. The magic text begins it;
// the layout is fixed so that a reader needs no symbol table.
//
// Plain data: no calls, nothing shared between threads.
#pragma once

#include <cstdint>

namespace plat {

// The record begins with the 15 characters "PLVERSIONINFO01" and a NUL. Code
// that searches for it must not hold that text as one literal, or it would
// find itself: the reader assembles it from two halves.
struct VersionRecord {
  char magic[16];
  std::uint16_t fileVersion[4];
  std::uint16_t productVersion[4];
  char productVersionText[32];
  char fileDescription[96];
  char originalFilename[48];
  char companyName[64];
};

}  // namespace plat
