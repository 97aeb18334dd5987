#pragma once
// The fixed texts the FTP engine leaves as its last error, shared by the
// control dialogue and the data transfers.

namespace ftptext {

inline constexpr char kDisconnected[] = "Disconnected";
inline constexpr char kTimedOut[] = "Timed out waiting for data";
inline constexpr char kCouldNotSend[] = "Could not send command!";
inline constexpr char kNoResponse[] = "Failed to receive response!";
inline constexpr char kInvalidResponse[] = "Invalid Response";
inline constexpr char kNoDataConnection[] = "Could not make data connection";
inline constexpr char kNoBuffer[] = "Could not allocate transfer buffer";
inline constexpr char kNoDestination[] = "Could not open destination file";
inline constexpr char kNoSource[] = "Could not open source file";
inline constexpr char kSendFailed[] = "Could not send data";
inline constexpr char kBadCharacter[] = "A name or path holds a line break or NUL character";
inline constexpr char kAborted[] = "Transfer aborted";
inline constexpr char kServerClosed[] = "The server closed the connection";
inline constexpr char kReplyTooLong[] = "The server's reply was too long";

} // namespace ftptext
