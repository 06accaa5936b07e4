#ifndef VIDODERAVEV_EXPORT_H
#define VIDODERAVEV_EXPORT_H

// The library is built with hidden visibility; this marks what it exports.
#define VIDODERAVEV_API __attribute__((visibility("default")))

#endif
