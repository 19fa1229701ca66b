#pragma once

#include "platform/foundation/Error.h"

#include <QUrl>
#include <optional>

// Photo paths in an album data file may lead through aliases: here, symbolic links.
//
// Resolves `url` as a possible alias. A file that is no symbolic link gives `url` itself; a link
// gives the file URL of the file at the end of its chain of links (as a canonical path). Fails with
// an error carrying `url`: in Error::posixDomain with code 2 (ENOENT) when `url` names no existing
// file (or is no local file URL at all); in Error::posixDomain with the system's code when the
// chain cannot be followed to an existing file (ELOOP for a loop, which is detected and never
// followed for ever; ENOENT for a broken link; EACCES ...). Both "file:///path" and
// "file://localhost/path" name local files.
//
// No shared state: callable from any thread (photos load on worker threads).
std::optional<QUrl> qm_urlByResolvingAliasFile(const QUrl& url, Error* error = nullptr);

// The same for a local path (absolute, as album data files hold them), with no URL made on the way:
// for each photo shown, where the resolution runs just before a decode. A file that is no symbolic
// link gives `path` itself, a link the canonical path at the end of its chain; the errors are those
// above, carrying the path's file URL.
std::optional<QString> qm_pathByResolvingAliasFile(const QString& path, Error* error = nullptr);
