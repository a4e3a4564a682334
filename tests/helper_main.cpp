// helper_main.cpp - a second process for the multi-process tests. It
// attaches to a scene the test made and does one thing:
//   walk SCENE   sums the linked list in scene data "LIST" and prints it
//   hold SCENE   takes the lock in scene data "LOCK", prints "held", sleeps
//   lock SCENE   takes that lock, prints "got" (and "recovered" when the
//                previous owner had died), releases it and exits
//   plugin SCENE MODULE
//                opens a display, loads the plugin module and prints its
//                result, the canvas root's tex_obj, its lock and is_locked
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "qvp_externs.h"
#include "qvp_globals.h"
#include "qvp_host.h"
#include "qvp_canvas.h"
#include "qvpdisp_host.h"

struct ListNode {
    int value;
    ListNode *next;
};

int main(int argc, char **argv) {
    if (argc != 3 && argc != 4) return 2;
    char err[256];
    QVH_LogToStderr(0);
    if (!QVH_OpenScene(argv[2], 0, QVH_SCENE_ATTACH, err, sizeof err)) {
        printf("attach failed: %s\n", err);
        return 3;
    }
    if (strcmp(argv[1], "plugin") == 0 && argc == 4) {
        if (!QVH_OpenDisplay("second", 32, 32, 0, err, sizeof err)) return 7;
        const char *av[] = {argv[3]};
        int r = QVH_LoadPlugin(argv[3], 1, av);
        QVP_CANVAS_INFO *info = (QVP_CANVAS_INFO *)QVF_GetDataFromScene(QVV_scene, "QVP_CANVAS_INFO");
        QVP_CANVAS_PROC_INFO *proc = (QVP_CANVAS_PROC_INFO *)QVF_GetDataFromProcess("QVP_CANVAS_PROC_INFO");
        if (!info || !proc) return 8;
        printf("%d %d %p %d\n", r, info->tex_obj, (void *)info->access_lock, proc->is_locked);
        return 0;
    }
    if (strcmp(argv[1], "walk") == 0) {
        ListNode **head = (ListNode **)QVF_GetDataFromScene(QVV_scene, "LIST");
        if (!head) return 4;
        long sum = 0, count = 0;
        for (ListNode *n = *head; n; n = n->next) {
            sum += n->value;
            count++;
        }
        printf("%ld %ld\n", count, sum);
        return 0;
    }
    QVS_SMLOCK **lock = (QVS_SMLOCK **)QVF_GetDataFromScene(QVV_scene, "LOCK");
    if (!lock || !*lock) return 5;
    if (strcmp(argv[1], "hold") == 0) {
        if (!QVF_SetLock(*lock)) return 6;
        printf("held\n");
        fflush(stdout);
        sleep(60);
        return 0;
    }
    if (strcmp(argv[1], "lock") == 0) {
        if (!QVF_SetLock(*lock)) return 6;
        bool recovered = false;
        for (int i = 0; i < QVH_LogCount(); i++)
            if (strstr(QVH_LogGet(i)->text, "owner died")) recovered = true;
        printf(recovered ? "got recovered\n" : "got\n");
        QVF_UnsetLock(*lock);
        return 0;
    }
    return 2;
}
