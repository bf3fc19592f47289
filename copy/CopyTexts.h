#pragma once

#include <string>

// What a copy tells the user: the status line's outcomes (which the command line
// prints too), and the messages its normal and its rescue copy share.
namespace moravel {

inline constexpr char kCopyingText[] = "Copying file ... Please wait.";
inline constexpr char kCopySucceededText[] = "The file was succesfully copied";
inline constexpr char kCopyFailedText[] = "The file copying failed.";
// A copy that wrote every byte of the file, some of them 0xE5 for sectors that
// could not be read: the status line goes on to say which.
inline constexpr char kCopyIncompleteText[] = "The file was copied incompletely.";

inline constexpr char kSelectFile[] = "Please select the file to be copied";
inline constexpr char kCannotCreate[] =
    "The file could not be created. Make shure that the filename and path is accessible.";
inline constexpr char kWriteFailed[] =
    "Error: Failed to complete writing to the file. Your harddrive may be full.\n"
    "Note that the fragment of the file that was succesfully copied may still be used.";
inline constexpr char kChainTooShort[] =
    "Error: The file's cluster chain on the recorder's disk ends before the end of the file.\n"
    "Note that the fragment of the file that was succesfully copied may still be used.";

// A read failed, and the disk did not answer after it (DriveAccess::DiskAnswers).
std::string SourceGoneText(const std::string& disk);

// "Fatal Error: Funtion m_driveAccess.NAME() caused an exeption."
std::string Fatal(const char* function);

}  // namespace moravel
