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

#include <string>
#include <vector>

/* Requests boot_images() keeps out at a time. */
enum { KVL_BOOT_WINDOW = 64 };

/* Boots images; answers how many were booted.  Waits. */
int boot_images(std::vector<Image>& images, double timeout);

/* One object for create_images(): image a blank image given its values, as
 * for Image::create_within(), and parent the FDN to create it beneath. */
struct ImageCreation {
    Image image;
    std::string parent;
    Image created; /* the new object, once created */
    enum State { NOT_ASKED, CREATED, REFUSED } state = NOT_ASKED;
};

/* Requests create_images() keeps out at a time. */
enum { KVL_CREATE_WINDOW = 64 };

/*
 * Creates the objects of batch in its order, as Image::create_within() does,
 * keeping up to KVL_CREATE_WINDOW requests out at a time.  The first refusal
 * (its error on the job's image) stops the run: nothing more is asked, but
 * the requests already out are still answered, so objects after the refused
 * one may have been created too; each job's state says.  A directory may
 * carry out requests that are out together in any order, so no object of a
 * batch may lie beneath another of it.  Answers how many were created before
 * the first refusal.  Waits, as boot_images() does.
 */
int create_images(std::vector<ImageCreation>& batch, double timeout);

#endif /* KVL_IMAGE_BATCH_H */
