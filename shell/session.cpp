// Definitions of the process-wide session state; see session.h for the guards.

#include "session.h"

char host_name[128] = "localhost";
int host_port = 4121;
char session_type[20] = "telnet";
char tty_name[80];
const char *const serial_newline_string = "\r\n";
const char *newline_string = "\n";
int gbPrintToSysLog = 0;
int inDoDMode = 0;
int no_banner = 0;
int wait_to_start = 0;
int view_only_mode = 0;
int bDevMode = 0;
int idleTimeout = 0;
char current_user[64];
char current_pwd[64];
char securityBanner[2048];
char enableSecureProfile[256];
char strIdleTimeout[16];
char eolConfig[256];
char baseDirFileName[128];

const char *cmd_fmt = "C: %s";
int cmdecho_state = 1;
int did_registration = 0;
HXCOM hclient = nullptr;
char cmdbuff[512];
char user[64];
pthread_t threadReader;
pthread_t apiAsyncEventReader;

pthread_mutex_t async_stdout_mut;
ShellIOT *stdout_shio = nullptr;
int waitingOnResponse = 0;
char cmdResult[512];
sem_t response_sem;
sem_t input_ready_sem;
sem_t sem_result;
std::atomic<int> cle_inline{0};
std::atomic<int> authenticated{0};
std::atomic<int> gnCount{0};
std::atomic<int> api_async_event_fd{-1};
volatile sig_atomic_t debug_sig_continue = 0;
