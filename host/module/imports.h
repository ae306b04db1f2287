// The host services that the library calls, in the order of the import
// records of the module header. Each gets a binding stub of the same name.
#ifndef PCS_HOST_MODULE_IMPORTS_H
#define PCS_HOST_MODULE_IMPORTS_H

#define PCS_IMPORTS(X)                                                                      \
  X(pr0ini) X(pu3cnam) X(pu3catn) X(pr0end) X(pladata) X(pr0vws) X(sufscs) X(sucsfs)        \
  X(pu4fcsk) X(sulbrm) X(pclenv) X(pu2cpo) X(pclrng) X(gtbwvg) X(gtbmae) X(gtbrae)          \
  X(gtbrui) X(gtbsas) X(gtbsui) X(gtbaae) X(gtbcpo) X(glrfam) X(gldobj) X(psussm)           \
  X(g7mswm) X(pparysiz) X(pparynew) X(pparyfre) X(pparyget) X(pplsttrs) X(pplstnxt)         \
  X(pplstins) X(pplstgtd) X(pplstfre) X(pplstfnd) X(pplstdel) X(pparystr) X(guemod)         \
  X(guepar) X(gueuse) X(gueror) X(gueact) X(gufswr) X(guerjo) X(gusend) X(gusrea)           \
  X(guspus) X(guspop) X(gusini) X(gusinf) X(girealoc) X(gusemp) X(gimaloc) X(gifree)        \
  X(gicaloc) X(gimcrw) X(gj0puo) X(gj0aii) X(gj0erx) X(gj0frd) X(gj0swm) X(ibafr7)          \
  X(gj0art) X(gj0asa) X(gj0pig)

#endif
