#pragma once

#include <QByteArrayView>
#include <QString>

// The program's own files (the settings file with the session draft and the meetings waiting to
// be saved in it, its journal, its locks) are its user's alone: files 0600 in folders 0700,
// whatever the umask says, from the moment they exist. Whatever an earlier version or another
// program left looser is tightened when it is next written, a folder when the program opens it.
//
// Documents the user keeps (a recording, the text of a meeting the server refused) are not
// written through here: they follow the umask, as any document does.
//
// Plain calls on paths and descriptors: safe from any thread.
namespace PrivateFiles {

// Creates the folder for the user alone, with any missing folders above it (as the XDG base
// directories ask), and tightens it when it is there already. Folders above it that are there
// already are the user's business and stay as they are. False when it is no folder afterwards.
bool makeFolder(const QString &folder);

// Replaces the file with `bytes` in one step: they go to a temporary file beside it, private
// from its creation, which takes the file's place once they are on the disk (and the folder is
// synced after). A symbolic link keeps pointing where it did: its target is replaced. False, and
// the file as it was (though tightened), when they could not be written whole or the file there
// is not writable.
bool replace(const QString &path, QByteArrayView bytes);

// open(2) of a file the caller writes in place (a journal, an owner file), created when missing:
// 0600 whether new or found looser. `flags` without O_CREAT; the descriptor (close-on-exec), or -1.
int open(const QString &path, int flags);

// Takes every right of group and others away from a file or folder that is there (following a
// symbolic link), for one whose maker cannot be told a mode (a lock file). True when it is
// private now.
bool tighten(const QString &path);

// Makes what was created, renamed or removed in the folder of `path` survive a power cut.
bool syncFolderOf(const QString &path);

} // namespace PrivateFiles
