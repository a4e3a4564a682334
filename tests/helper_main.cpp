// helper_main.cpp - a second process for the multi-process tests. It
// attaches to a scene the test made and does one thing:
//   walk SCENE   sums the linked list in scene data "LIST" and prints it
//   hold SCENE   takes the lock in scene data "LOCK", prints "held", sleeps
//   lock SCENE   takes that lock, prints "got" (and "recovered" when the
//                previous owner had died), releases it and exits
//   plugin SCENE MODULE
//                opens a display, loads the plugin module and prints its
//                result, the canvas root's tex_obj, its lock and is_locked
//   canvases SCENE
//                prints each canvas as NAME:ELEMENTS:TEXT-OF-FIRST-TEXT
//   holdcanvas SCENE
//                takes the canvas lock, prints "held", counts the
//                elements of canvas "c" for 400 ms, releases the lock and
//                prints "released" with the count it saw throughout
//   deletecanvas SCENE NAME
//                deletes canvas NAME and prints "deleted"
//   addtext SCENE NAME
//                adds a text element to canvas NAME and prints its id
//   droplast SCENE NAME
//                deletes the last element of canvas NAME, prints "dropped"
//   canvaslock SCENE
//                prints "ready", takes the canvas lock once and prints
//                the milliseconds it waited for it
//   play SCENE NAME ID OPTION VALUE
//                changes the play state of video ID of canvas NAME
//                (-paused, -rate or -position) and prints "played"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "qvp_externs.h"
#include "qvp_globals.h"
#include "qvp_host.h"
#include "qvp_canvas.h"
#include "qvpdisp_host.h"
#include "canvas_builder.h"
#include <string>

struct ListNode {
    int value;
    ListNode *next;
};

int main(int argc, char **argv) {
    if (argc != 3 && argc != 4 && argc != 7) return 2;
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
    if ((strcmp(argv[1], "addtext") == 0 || strcmp(argv[1], "droplast") == 0) && argc == 4) {
        std::string e;
        if (!qvpc::Attach(e)) return 9;
        QVP_CANVAS *c = qvpc::FindCanvas(argv[3]);
        if (!c) return 10;
        if (argv[1][0] == 'd') {
            if (!c->last_element || !qvpc::DeleteElement(c, c->last_element, e)) return 11;
            printf("dropped\n");
            return 0;
        }
        qvpc::ElementDesc d;
        qvpc::DefaultElement(d, ELEMENT_TEXT);
        d.text = "from the helper";
        QVP_CANVAS_ELEMENT *el = qvpc::AddElement(c, d, e);
        if (!el) return 11;
        printf("%d\n", el->id);
        return 0;
    }
    if (strcmp(argv[1], "play") == 0 && argc == 7) {
        std::string e;
        if (!qvpc::Attach(e)) return 9;
        QVP_CANVAS *c = qvpc::FindCanvas(argv[3]);
        QVP_CANVAS_ELEMENT *el = c ? qvpc::FindElement(c, atoi(argv[4])) : nullptr;
        if (!el) return 10;
        qvpc::PlayEdit edit;
        double v = atof(argv[6]);
        if (strcmp(argv[5], "-paused") == 0) edit.paused = v != 0;
        else if (strcmp(argv[5], "-rate") == 0) edit.rate = v;
        else edit.position = v;
        if (!qvpc::EditVideoPlay(c, el, edit, e)) {
            printf("refused: %s\n", e.c_str());
            return 11;
        }
        printf("played\n");
        return 0;
    }
    if (strcmp(argv[1], "deletecanvas") == 0 && argc == 4) {
        std::string e;
        if (!qvpc::Attach(e)) return 9;
        QVP_CANVAS *c = qvpc::FindCanvas(argv[3]);
        if (!c || !qvpc::DeleteCanvas(c, e)) return 10;
        printf("deleted\n");
        return 0;
    }
    if (strcmp(argv[1], "canvaslock") == 0) {
        std::string e;
        if (!qvpc::Attach(e)) return 9;
        // Reports the display's frame number (scene datum "FRAMES", which
        // the test writes before each frame) as it asks for the lock and
        // as it gets it.
        const int *frames = (const int *)QVF_GetDataFromScene(QVV_scene, "FRAMES");
        printf("ready\n");
        fflush(stdout);
        // Asks for the lock once the display is drawing frame after frame.
        for (int i = 0; i < 20000 && frames && __atomic_load_n(frames, __ATOMIC_ACQUIRE) < 2; i++) usleep(500);
        int asked = frames ? __atomic_load_n(frames, __ATOMIC_ACQUIRE) : -1, got;
        {
            qvpc::Lock lock;
            got = frames ? __atomic_load_n(frames, __ATOMIC_ACQUIRE) : -1;
        }
        printf("%d %d\n", asked, got);
        return 0;
    }
    if (strcmp(argv[1], "canvases") == 0 || strcmp(argv[1], "holdcanvas") == 0) {
        std::string e;
        if (!qvpc::Attach(e)) return 9;
        if (strcmp(argv[1], "canvases") == 0) {
            std::string out;
            qvpc::Lock lock;
            for (QVP_CANVAS *c = qvpc::Info()->list; c; c = c->pnext) {
                int n = 0;
                std::string text;
                for (QVP_CANVAS_ELEMENT *el = c->elements; el; el = el->pnext, n++)
                    if (el->type == ELEMENT_TEXT && text.empty() && el->data.text.buff) text = el->data.text.buff;
                out += std::string(out.empty() ? "" : " ") + c->name + ":" + std::to_string(n) + ":" + text;
            }
            printf("%s\n", out.c_str());
            return 0;
        }
        int seen = -1;
        {
            qvpc::Lock lock;
            printf("held\n");
            fflush(stdout);
            for (int i = 0; i < 40; i++) {
                int n = 0;
                for (QVP_CANVAS *c = qvpc::Info()->list; c; c = c->pnext)
                    if (strcmp(c->name, "c") == 0)
                        for (QVP_CANVAS_ELEMENT *el = c->elements; el; el = el->pnext) n++;
                if (seen >= 0 && n != seen) seen = -100;
                else if (seen == -1) seen = n;
                usleep(10000);
            }
        }
        printf("released %d\n", seen);
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
