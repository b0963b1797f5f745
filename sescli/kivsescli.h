// kivses: the enclosure module's command line. It lists the pages an
// enclosure supports, reads its short status, reads and writes pages, runs
// a String Out/In exchange and downloads firmware, through the module's
// public functions only.
#ifndef KIV_SESCLI_KIVSESCLI_H
#define KIV_SESCLI_KIVSESCLI_H

// Exit statuses, the same numbers as the other programs of the family.
enum SesCliExitStatus : int {
  SESCLI_ExitDone = 0,
  SESCLI_ExitNotGood = 1,  // status: the short enclosure status is not good
  SESCLI_ExitBadInput = 11,
  SESCLI_ExitBusy = 26,    // the enclosure stayed busy through the retries
  SESCLI_ExitFailed = 47,
};

// The whole program; returns its exit status. The trace, when one is
// opened, is finished by its exit handler when the process ends.
int KIV_SesCliMain(int argc, char** argv);

#endif
