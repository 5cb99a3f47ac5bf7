#pragma once
// Names of pictures and sessions: what the service accepts and how it turns a name typed by a
// user (Windows-1252 bytes, spaces and umlauts included) into one that can stand in an address.

#include <string>
#include <string_view>

namespace glimmerly::service {

// Longest picture name the service hands out (before a "-2", "-3", … suffix).
inline constexpr std::size_t kMaxPictureNameLength = 60;
// Longest typed name accepted at all, in bytes.
inline constexpr std::size_t kMaxTypedNameLength = 200;
// Session names: 1 to 40 characters of A-Z, a-z, 0-9, "_" and "-".
inline constexpr std::size_t kMaxSessionNameLength = 40;

// Turns a typed name into an address-safe picture name: letters are lower-cased, German umlauts
// and ß become ae/oe/ue/ss, other accented letters lose their accent, "-" and digits stay, and
// every run of other characters (blanks, dots, slashes, "&", bytes without a letter) becomes one
// "_". Leading and trailing "_" and "-" are dropped and the result is cut to
// kMaxPictureNameLength. May return an empty text.
std::string MakePictureName(std::string_view typed);

// True for a name the service can have handed out: 1 to 80 characters of a-z, 0-9, "_", "-".
bool IsPictureName(std::string_view name);

// True for a valid session name (see kMaxSessionNameLength).
bool IsSessionName(std::string_view name);

// A short random picture name of eight characters a-z, 0-9.
std::string RandomPictureName();

// A random token of 32 hex digits, used for stored file names and owners.
std::string RandomToken();
// True for what RandomToken makes: 32 digits 0-9 a-f.
bool IsToken(std::string_view text);

} // namespace glimmerly::service
