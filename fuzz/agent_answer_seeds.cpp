// Writes seed answers for the agent answer fuzz target into the folder given
// as the only argument: both queries' answers, nesting, every token kind.
#include "uFiles.h"

#include <QDir>
#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: agent_answer_seeds FOLDER\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(dir.path());
  const std::pair<const char *, QByteArray> Seeds[] = {
      {"channels.txt", "{data:[{id:1,port:3,comment:\"Left bus\"},{id:2,port:0,comment:\"off\"}]}\n"},
      {"units.txt", "{data:[{channelID:1,name:\"Реле A\",com_address:5,tcp_address:\"\",tcp_port:0}]}\n"},
      {"tokens.txt", "[[[{a:true,b:-2147483648,c:$7FFFFFFF,d:'x',e:1.5e3}]]]}}"},
  };
  for (const auto &[Name, Bytes] : Seeds)
    SaveFileBytes(dir.filePath(QString::fromLatin1(Name)), Bytes);
  return 0;
}
