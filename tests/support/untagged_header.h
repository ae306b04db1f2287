/* A header whose second entry point leaves one parameter without its
 * direction: the header check must refuse it (ctest header_manual_untagged). */
/* tagged: both parameters tagged.
 *  first, second (in) 8 bytes each */
PCS_API int tagged(const void *first, const void *second);
/* untagged: copies a value.
 *  value (in) 4 bytes */
PCS_API void untagged(const int *value, int *copy);
