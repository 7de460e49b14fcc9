#pragma once
#include "core/lookup/PageFetcher.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <functional>
#include <optional>

// What a picture load gives: a picture (empty when it should show blank), or
// nothing when the load could not be attempted at all.
using PictureDone = std::function<void(std::optional<QImage> picture)>;

// A picture from an internet address or a local file, for the singer picture.
//
// Two loaders are tried in turn. The first takes http and https addresses
// (blanks around them ignored, as for pages), fetched through the program's
// one network stack like a page; whatever goes wrong there, no answer or an
// answer that is not a picture, yields an empty picture, so the caller shows
// a blank. Anything else goes to the second loader, which reads a local
// picture file at once (a bounded regular file). It cannot answer "empty": a
// path that names no readable regular file, or a file that is not a picture,
// yields nothing at all, and the caller then keeps the picture it had. Device
// files and pipes are never opened, so a path taken from a page cannot make
// the program read forever.
//
// `done` comes later, never from inside this call, and never once the
// returned handle has been cancelled or destroyed.
FetchHandle LoadPicture(QString path, PictureDone done, const FetchLimits &limits = {});

// The same load, also handing over the bytes the picture was read from (as
// served, or as the file holds them): empty whenever the picture is empty or
// there is none.
using PictureBytesDone = std::function<void(std::optional<QImage> picture, QByteArray bytes)>;
FetchHandle LoadPictureWithBytes(QString path, PictureBytesDone done, const FetchLimits &limits = {});
