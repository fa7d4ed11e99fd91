/*
 * image_batch.h - reading many objects' values at once.  PUBLIC HEADER
 * (with kvl/kvl.h).
 *
 * boot_images() boots each image as Image::boot() does, but keeps up to
 * KVL_BOOT_WINDOW requests out at a time, so that reading N objects costs
 * about N / KVL_BOOT_WINDOW round trips instead of N: qx_mis answers a
 * connection's requests in order, a directory answers its searches as they
 * come.  Each image ends booted, or with its own error set (KVL_ERR_NO_OBJECT
 * for an object gone; the loss, as Image::boot() gives it, for those asked
 * or not yet asked when the connection went); the time-out is each
 * request's.  A blank or tracked
 * image is booted alone, in its turn.  Waits: the event-loop rule of kvl.h
 * holds, and callbacks may run between two answers.
 *
 *     std::vector<Image> batch;
 *     for (const std::string& name : names) batch.emplace_back(DataUnit(name.c_str()), DataUnit(), platform);
 *     boot_images(batch, timeout);               // waits
 *     for (Image& img : batch) if (img.get_error_type() == 0) write(img);
 */
#ifndef KVL_IMAGE_BATCH_H
#define KVL_IMAGE_BATCH_H

#include "kvl/kvl.h"

#include <vector>

/* Requests boot_images() keeps out at a time. */
enum { KVL_BOOT_WINDOW = 64 };

/* Boots images; answers how many were booted.  Waits. */
int boot_images(std::vector<Image>& images, double timeout);

#endif /* KVL_IMAGE_BATCH_H */
