#pragma once

#include <string>

// The Copy File command's messages that its normal and its rescue copy share.
namespace moravel {

inline constexpr char kSelectFile[] = "Please select the file to be copied";
inline constexpr char kCannotCreate[] =
    "The file could not be created. Make shure that the filename and path is accessible.";
inline constexpr char kWriteFailed[] =
    "Error: Failed to complete writing to the file. Your harddrive may be full.\n"
    "Note that the fragment of the file that was succesfully copied may still be used.";
inline constexpr char kChainTooShort[] =
    "Error: The file's cluster chain on the recorder's disk ends before the end of the file.\n"
    "Note that the fragment of the file that was succesfully copied may still be used.";

// "Fatal Error: Funtion m_driveAccess.NAME() caused an exeption."
std::string Fatal(const char* function);

}  // namespace moravel
