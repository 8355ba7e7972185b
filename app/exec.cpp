// kelvane-exec.exe: the unattended job alone, a console program, so that a prompt, a batch file
// and the Task Scheduler wait for it, get its exit status and see its lines on the console or a
// redirection. kelvane.exe, the window, has no console of its own to be closed under it.
#include "../job/main.h"
#include "../plataforma/sistema.h"

int main(int argc, char** argv) {
    const int codigo = kelvane::Main(argc, argv, nullptr);
    kelvane::plataforma::EncerrarProcesso(codigo);
}
