// The collector's snapshot of the router's ports: rrasdata.dat in the Windows
// directory, a profile file with one section per port name (keys in
// port_snapshot.cc), read by the service's traffic query.
//
// A run builds the whole snapshot in the temporary file "\xA8rrasdat.tmp" of
// the Windows directory and then moves it over rrasdata.dat. A run whose
// router calls failed, or that never ends, replaces nothing: the last
// complete snapshot stays.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "common/data_folder.h"

namespace collector {

inline constexpr const char* kSnapshotFile = common::kPortSnapshotFile;
// "rrasdat.tmp" preceded by one byte of value 0xA8.
inline constexpr const char* kTemporaryFile = "\xA8rrasdat.tmp";

// Windows paths of the two files.
std::string SnapshotPath();
std::string TemporaryPath();

// One line of the collector's trace.
using TraceLine = std::function<void(const std::string& text)>;

// Reads every port of the local router through MPRAPI.DLL and replaces the
// snapshot. True when the snapshot was replaced.
bool CollectPortData(const TraceLine& trace);

}  // namespace collector
