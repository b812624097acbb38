#pragma once

// TRegMan: the player's persistent settings in the current user's registry (TRegistry),
// all under HKEY_CURRENT_USER\Software\QRV\Player:
//
//   1.0\FilePath            string   folder of the last opened recording (with its
//                                    trailing separator)
//   1.0\VisibleSmallVideo   number   1 when the small video window is wanted, else 0
//   1.0\Language            number   1 Korean, 2 English, 3 Japanese, 4 Chinese; 0 or
//                                    less: not chosen, the player picks one from the system
//   FileList\01 .. 07       string   recently opened recordings, "01" the oldest
//   FileOpen\Handle         number   window handle of the running player's main window
//   FileOpen\FilePath       string   the file a second instance hands to the running one
//
// Every operation opens "Software\QRV\Player" and then its subkey, creating both when they
// are missing, so even a read creates the keys. A value that is missing or of another type
// reads as the default. A key that cannot be opened makes the operation do nothing (the
// getters answer 0 or empty). Nothing throws.
//
// Threads: the main thread only. Another player process may read and write the FileOpen
// values at the same time; TRegistry keeps the file whole and loses neither side's values.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qrv {

class TRegMan {
public:
    // The most recent files kept.
    static constexpr size_t MaxRecent = 7;

    TRegMan() = default;

    std::string FilePath;
    bool VisibleSmallVideo = true;
    int32_t Language = 0;

    // The recent files, oldest first.
    const std::vector<std::string>& RecentList() const { return m_recent; }

    // Reads the three values of "1.0" into the fields (defaults for the missing ones; the
    // fields stay as they are when the main key cannot be opened), then LoadRecent.
    void Load();
    // Writes the three fields to "1.0", then SaveRecent. False when a value could not be
    // written.
    bool Save();
    // Empties the recent list, then appends "01" to "07" in order, skipping values that
    // are missing, empty or not strings.
    void LoadRecent();
    // Writes entry i of the recent list as the value "0<i+1>" and removes the numbered
    // values beyond the list's length. False when a value could not be written.
    bool SaveRecent();
    // Appends fileName unless it equals the newest entry exactly; when it is appended to a
    // full list, the oldest entry goes first.
    void AddRecent(const std::string& fileName);
    // Deletes the first entry equal to fileName ignoring letter case.
    void RemoveRecent(const std::string& fileName);

    // The hand-over between instances.
    void SetOpenHandle(int32_t handle);
    int32_t GetOpenHandle() const;
    void SetOpenFilePath(const std::string& fileName);
    std::string GetOpenFilePath() const;

private:
    std::vector<std::string> m_recent;
};

// The process-wide settings store, created with the defaults on first use and kept until
// the program ends.
TRegMan& RegMan();

} // namespace qrv
