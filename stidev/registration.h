// Registration of the server: its registry entries and its type library.
//
// Under HKEY_CLASSES_ROOT:
//   VexEmSti.VexEmStiObj.1      @ = "VexEmStiObj Class", CLSID\@ = the class id
//   VexEmSti.VexEmStiObj        the same
//   CLSID\{class id}            @ = "VexEmStiObj Class", with the subkeys
//                               ProgID, VersionIndependentProgID and
//                               InprocServer32 (@ = the library's full path,
//                               ThreadingModel = "both")
// The class id's key is removed whole before it is written afresh; the key
// "CLSID" itself is never removed. The type library is the file beside the
// library with the extension ".tlb", registered with the library's folder
// as its help folder.
#pragma once

#include "platform/com.h"

#include <filesystem>

namespace lumarc::stidev {

// Writes the entries for the library file at library, then registers the
// type library; the first failure ends it and is returned.
platform::HRESULT registerServer(const std::filesystem::path& library);

// Removes the entries and the type library's registration; a type library
// that was not registered is no failure.
platform::HRESULT unregisterServer();

} // namespace lumarc::stidev
