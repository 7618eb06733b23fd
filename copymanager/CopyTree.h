#pragma once

#include <functional>

#include <QByteArray>
#include <QString>

// Installs every file and folder of `source` into `destination`, creating folders as needed and replacing files
// atomically (a target is always the old or the new file). Nothing else in `destination` is removed and `source` is
// left as it is. A regular file "liveupdate.json" at the top of `source` is installed last, and only when everything
// else was: a partial copy keeps the old manifest, so the launcher downloads again.
//
// The source is the launcher's download folder, which its user owns while this program may run with more rights,
// so nothing in it is trusted:
// - only regular files and folders are installed; links, FIFOs, sockets and devices are named and count as failures;
// - when the run has more rights than its caller (started through pkexec, or by another user than the source's
//   owner), the source and every entry in it must belong to the caller and the source must not be writable by group
//   or others; otherwise nothing is installed;
// - nothing in the destination is followed through a link, and a link where the update has an entry stays as it is.
// Names starting with ".orvel-" are reserved (this program's temporary files, the launcher's own files) and are
// neither installed nor replaced; leftover ".orvel-copy.*" temporary files of an interrupted run are removed.
// With a manifest public key, the run also checks the publisher's signature over the manifest the launcher left in
// `source` (see SignedManifest) and installs a file only when its size and SHA-256 match the signed entry for its
// path; a signature that does not verify installs nothing.
// Returns true when every entry was installed; entries that fail do not stop the others.
struct CopyOptions
{
    QByteArray manifestPublicKey; // standard Base64 of a raw Ed25519 key; empty: no signature check
    // The source is disposable (the launcher's download cache): when the run has only the caller's rights and a
    // file is on the installation's file system, it is renamed into place instead of copied.
    bool move = false;
    // Runs once the source has been listed and checked, before anything is installed (tests change the source then).
    std::function<void()> afterListing;
};

bool copyTree(const QString& source, const QString& destination, const CopyOptions& options = CopyOptions());
