! A Fortran program that uses libkelvara as its clients do: it declares the routines it calls
! with bind(C) interfaces, passes every number by reference and every text as its characters
! followed by its length (a 32-bit integer by value), and reaches the shared message record
! DMESSAGES directly. It checks its own results and stops with status 1 on any mismatch.
! It writes its scratch files into the current folder.

module kelvara_interface
    use, intrinsic :: iso_c_binding, only: c_char, c_double, c_float, c_int32_t
    implicit none

    ! The shared message record, byte for byte as the library lays it out (packed, 7096 bytes).
    ! A bind(C) type follows the C alignment rules, which would move the reals x and y (at the
    ! unaligned offsets 7076 and 7084) to the next multiple of 8; they are therefore declared as
    ! pairs of 32-bit integers and read and written through transfer() (see recordX, setXY).
    type, bind(C) :: message_record
        integer(c_int32_t) :: messageUnit
        integer(c_int32_t) :: messageMifUnit
        integer(c_int32_t) :: messageMidUnit
        integer(c_int32_t) :: checkMifUnit
        integer(c_int32_t) :: checkMidUnit
        character(kind=c_char) :: text(1000, 4)
        character(kind=c_char) :: prefix(4)
        real(c_double) :: labelWidth
        real(c_double) :: labelOffset
        integer(c_int32_t) :: errorCount
        integer(c_int32_t) :: warningCount
        integer(c_int32_t) :: checkCount
        integer(c_int32_t) :: xyErrorCount
        integer(c_int32_t) :: xyWarningCount
        integer(c_int32_t) :: xyCheckCount
        integer(c_int32_t) :: messageNumber
        integer(c_int32_t) :: severity
        character(kind=c_char) :: extra(1000, 3)
        integer(c_int32_t) :: logUnit
        integer(c_int32_t) :: xBits(2)
        integer(c_int32_t) :: yBits(2)
        integer(c_int32_t) :: oneLine
    end type message_record

    type(message_record), bind(C, name="DMESSAGES"), target :: DMESSAGES

    interface
        ! Text routines: the result area and its length come first.
        subroutine FILENAME(result, resultLen, path, pathLen) bind(C, name="FILENAME")
            import :: c_char, c_int32_t
            character(kind=c_char), intent(out) :: result(*)
            integer(c_int32_t), value :: resultLen
            character(kind=c_char), intent(in) :: path(*)
            integer(c_int32_t), value :: pathLen
        end subroutine FILENAME

        subroutine UPPERCASE(result, resultLen, text, textLen) bind(C, name="UPPERCASE")
            import :: c_char, c_int32_t
            character(kind=c_char), intent(out) :: result(*)
            integer(c_int32_t), value :: resultLen
            character(kind=c_char), intent(in) :: text(*)
            integer(c_int32_t), value :: textLen
        end subroutine UPPERCASE

        subroutine AREAL8(result, resultLen, value) bind(C, name="AREAL8")
            import :: c_char, c_double, c_int32_t
            character(kind=c_char), intent(out) :: result(*)
            integer(c_int32_t), value :: resultLen
            real(c_double), intent(in) :: value
        end subroutine AREAL8

        ! Logical results: -1 true, 0 false; the lowest bit is what counts.
        function FLAGEXISTS(line, lineLen, flag, flagLen) bind(C, name="FLAGEXISTS")
            import :: c_char, c_int32_t
            integer(c_int32_t) :: FLAGEXISTS
            character(kind=c_char), intent(in) :: line(*)
            integer(c_int32_t), value :: lineLen
            character(kind=c_char), intent(in) :: flag(*)
            integer(c_int32_t), value :: flagLen
        end function FLAGEXISTS

        ! Double-precision twins.
        function DISTANCE_8(x1, y1, x2, y2) bind(C, name="DISTANCE_8")
            import :: c_double, c_float
            real(c_float) :: DISTANCE_8
            real(c_double), intent(in) :: x1, y1, x2, y2
        end function DISTANCE_8

        function INSIDE_POLYGON_8(xp, yp, x, y, n, xmin, ringEnds, ringCount) &
                bind(C, name="INSIDE_POLYGON_8")
            import :: c_double, c_int32_t
            integer(c_int32_t) :: INSIDE_POLYGON_8
            real(c_double), intent(in) :: xp, yp, x(*), y(*), xmin
            integer(c_int32_t), intent(in) :: n, ringEnds(*), ringCount
        end function INSIDE_POLYGON_8

        ! File units and the message log.
        subroutine OPENFILEUNIT(unit, kind, kindLen, name, nameLen) bind(C, name="OPENFILEUNIT")
            import :: c_char, c_int32_t
            integer(c_int32_t), intent(out) :: unit
            character(kind=c_char), intent(in) :: kind(*)
            integer(c_int32_t), value :: kindLen
            character(kind=c_char), intent(in) :: name(*)
            integer(c_int32_t), value :: nameLen
        end subroutine OPENFILEUNIT

        subroutine CLOSEFILEUNIT(unit) bind(C, name="CLOSEFILEUNIT")
            import :: c_int32_t
            integer(c_int32_t), intent(in) :: unit
        end subroutine CLOSEFILEUNIT

        subroutine DMESSAGE(n) bind(C, name="DMESSAGE")
            import :: c_int32_t
            integer(c_int32_t), intent(in) :: n
        end subroutine DMESSAGE

        subroutine DMESSAGECLEAR() bind(C, name="DMESSAGECLEAR")
        end subroutine DMESSAGECLEAR

        subroutine DMESSAGERESETCOUNTERS() bind(C, name="DMESSAGERESETCOUNTERS")
        end subroutine DMESSAGERESETCOUNTERS
    end interface

contains

    ! Fills a character field of the record with text, padded with blanks.
    subroutine setField(field, text)
        character(kind=c_char), intent(out) :: field(:)
        character(len=*), intent(in) :: text
        integer :: i
        do i = 1, size(field)
            if (i <= len(text)) then
                field(i) = text(i:i)
            else
                field(i) = ' '
            end if
        end do
    end subroutine setField

    ! A character field of the record as one text.
    function fieldText(field) result(text)
        character(kind=c_char), intent(in) :: field(:)
        character(len=size(field)) :: text
        integer :: i
        do i = 1, size(field)
            text(i:i) = field(i)
        end do
    end function fieldText

    subroutine setXY(x, y)
        real(c_double), intent(in) :: x, y
        DMESSAGES%xBits = transfer(x, DMESSAGES%xBits)
        DMESSAGES%yBits = transfer(y, DMESSAGES%yBits)
    end subroutine setXY

    real(c_double) function recordX()
        recordX = transfer(DMESSAGES%xBits, recordX)
    end function recordX
end module kelvara_interface


program client
    use, intrinsic :: iso_c_binding
    use kelvara_interface
    implicit none

    integer :: checks = 0, failures = 0

    call recordLayout()
    call textRoutines()
    call logicalRoutine()
    call doubleTwins()
    call messageLog()

    write (*, '(a, i0, a, i0, a)') 'Fortran client: ', checks, ' checks, ', failures, ' failed'
    if (failures > 0) stop 1

contains

    subroutine check(ok, what)
        logical, intent(in) :: ok
        character(len=*), intent(in) :: what
        checks = checks + 1
        if (.not. ok) then
            failures = failures + 1
            write (*, '(2a)') 'FAIL: ', what
        end if
    end subroutine check

    integer(c_intptr_t) function offsetOf(address)
        type(c_ptr), intent(in) :: address
        offsetOf = transfer(address, 0_c_intptr_t) - transfer(c_loc(DMESSAGES), 0_c_intptr_t)
    end function offsetOf

    ! Runs first: the record as the library left it at load, and its layout as this program sees
    ! it.
    subroutine recordLayout()
        call check(c_sizeof(DMESSAGES) == 7096, 'DMESSAGES size')
        call check(offsetOf(c_loc(DMESSAGES%prefix)) == 4020, 'DMESSAGES prefix offset')
        call check(offsetOf(c_loc(DMESSAGES%labelWidth)) == 4024, 'DMESSAGES labelWidth offset')
        call check(offsetOf(c_loc(DMESSAGES%extra)) == 4072, 'DMESSAGES extra offset')
        call check(offsetOf(c_loc(DMESSAGES%logUnit)) == 7072, 'DMESSAGES logUnit offset')
        call check(offsetOf(c_loc(DMESSAGES%xBits)) == 7076, 'DMESSAGES x offset')
        call check(offsetOf(c_loc(DMESSAGES%oneLine)) == 7092, 'DMESSAGES oneLine offset')
        call check(all(DMESSAGES%text == c_null_char) .and. DMESSAGES%errorCount == 0 .and. &
                   DMESSAGES%oneLine == 0, 'DMESSAGES zero-filled at load')
    end subroutine recordLayout

    subroutine textRoutines()
        character(len=40) :: path
        character(len=14) :: area
        character(len=20) :: upper

        path = 'C:\runs\model_h.dat'
        area = repeat('#', len(area))
        call FILENAME(area, 10_c_int32_t, path, len(path, kind=c_int32_t))
        call check(area == 'model_h   ####', 'FILENAME fills its area and nothing beyond')
        area = repeat('#', len(area))
        call FILENAME(area, 3_c_int32_t, path, len(path, kind=c_int32_t))
        call check(area == 'mod###########', 'FILENAME cut at its area')

        call UPPERCASE(upper, len(upper, kind=c_int32_t), 'Max_h.dat -b', 12_c_int32_t)
        call check(upper == 'MAX_H.DAT -B', 'UPPERCASE')

        call AREAL8(upper, len(upper, kind=c_int32_t), 2.0e9_c_double)
        call check(upper == '2000000000.', 'AREAL8 2.0E9')
        call AREAL8(upper, len(upper, kind=c_int32_t), 123.456_c_double)
        call check(upper == '123.456', 'AREAL8 123.456')
    end subroutine textRoutines

    subroutine logicalRoutine()
        type :: flag_case
            character(len=24) :: line
            character(len=6) :: flag
            logical :: expected
        end type flag_case
        type(flag_case), parameter :: cases(5) = [ &
            flag_case('kelvara -MAX run_h.dat', '-max', .true.), &
            flag_case('maxmax', 'xm', .true.), &
            flag_case('con', 'dur', .false.), &
            flag_case('con', '', .true.), &
            flag_case('', 'b', .false.)]
        integer :: i
        integer(c_int32_t) :: found
        do i = 1, size(cases)
            found = FLAGEXISTS(cases(i)%line, len(cases(i)%line, kind=c_int32_t), &
                               cases(i)%flag, len(cases(i)%flag, kind=c_int32_t))
            call check((found == -1 .or. found == 0) .and. &
                       (btest(found, 0) .eqv. cases(i)%expected), &
                       'FLAGEXISTS ' // trim(cases(i)%line) // ' / ' // trim(cases(i)%flag))
        end do
    end subroutine logicalRoutine

    subroutine doubleTwins()
        ! The diamond (1,0), (2,1), (1,2), (0,1) as one ring: its vertices, then the first two
        ! again; the ring ends at entry 5.
        real(c_double), parameter :: x(6) = [1, 2, 1, 0, 1, 2], y(6) = [0, 1, 2, 1, 0, 1]
        integer(c_int32_t), parameter :: n = 6, ringEnds(1) = [5], ringCount = 1
        real(c_double), parameter :: xmin = 0

        call check(DISTANCE_8(0.0_c_double, 0.0_c_double, 3.0_c_double, 4.0_c_double) &
                   == 5.0, 'DISTANCE_8 3-4-5')
        call check(DISTANCE_8(0.0_c_double, 0.0_c_double, 1.0e-7_c_double, 1.0e-7_c_double) &
                   == 0.0, 'DISTANCE_8 below the tolerance')
        call check(btest(INSIDE_POLYGON_8(1.5_c_double, 1.0_c_double, x, y, n, xmin, ringEnds, &
                                          ringCount), 0), 'INSIDE_POLYGON_8 inside')
        call check(.not. btest(INSIDE_POLYGON_8(1.9_c_double, 0.2_c_double, x, y, n, xmin, &
                                                ringEnds, ringCount), 0), &
                   'INSIDE_POLYGON_8 outside')
    end subroutine doubleTwins

    ! A located warning on one line, to a message file and a log file opened through the
    ! library's unit table; the files are complete once their units are closed.
    subroutine messageLog()
        character(len=*), parameter :: logName = 'kelvara_client_fortran.log'
        character(len=*), parameter :: messageName = 'kelvara_client_fortran.txt'
        character(len=*), parameter :: expectedLog = ' 0007, 2,           1.500,' // &
            '          -2.250, "WARNING 7 - level "high"  B", "pipe 7", "", "f3"'
        character(len=*), parameter :: expectedMessage = &
            'WARNING 7 - level "high"  B  pipe 7; f3'
        character(len=1000) :: name
        integer(c_int32_t) :: logUnit, messageUnit
        character(len=300) :: line

        call removeFile(logName)
        call removeFile(messageName)
        name = logName
        call OPENFILEUNIT(logUnit, 'O ', 2_c_int32_t, name, len(name, kind=c_int32_t))
        name = messageName
        call OPENFILEUNIT(messageUnit, 'O ', 2_c_int32_t, name, len(name, kind=c_int32_t))
        call check(logUnit > 900 .and. messageUnit > 900 .and. logUnit /= messageUnit, &
                   'OPENFILEUNIT unit numbers')

        call DMESSAGECLEAR()
        call DMESSAGERESETCOUNTERS()
        DMESSAGES%logUnit = logUnit
        DMESSAGES%messageUnit = messageUnit
        call setField(DMESSAGES%text(:, 1), 'WARNING 7 - level "high"')
        call setField(DMESSAGES%text(:, 2), 'B')
        call setField(DMESSAGES%extra(:, 1), 'pipe 7')
        call setField(DMESSAGES%extra(:, 3), 'f3')
        call setXY(1.5_c_double, -2.25_c_double)
        DMESSAGES%oneLine = -1
        call DMESSAGE(0_c_int32_t)
        DMESSAGES%logUnit = 0
        DMESSAGES%messageUnit = 0
        call CLOSEFILEUNIT(logUnit)
        call CLOSEFILEUNIT(messageUnit)

        call check(DMESSAGES%warningCount == 1 .and. DMESSAGES%errorCount == 0, &
                   'DMESSAGE counts the warning')
        call check(DMESSAGES%messageNumber == 7 .and. DMESSAGES%severity == 2, &
                   'DMESSAGE number and severity')
        call check(fieldText(DMESSAGES%text(:, 1)) == '' .and. &
                   fieldText(DMESSAGES%extra(:, 3)) == '' .and. &
                   recordX() == -99999.0_c_double .and. DMESSAGES%oneLine == 0, &
                   'DMESSAGE clears the record')

        call firstLine(logName, line)
        call check(line == expectedLog, 'log line')
        if (line /= expectedLog) write (*, '(a/a)') '  got      ' // trim(line), &
            '  expected ' // expectedLog
        call firstLine(messageName, line)
        call check(line == expectedMessage, 'message file line')
        if (line /= expectedMessage) write (*, '(a/a)') '  got      ' // trim(line), &
            '  expected ' // expectedMessage
        call removeFile(logName)
        call removeFile(messageName)
    end subroutine messageLog

    subroutine firstLine(fileName, line)
        character(len=*), intent(in) :: fileName
        character(len=*), intent(out) :: line
        integer :: u, status
        line = '(missing)'
        open (newunit=u, file=fileName, status='old', action='read', iostat=status)
        if (status /= 0) return
        read (u, '(a)', iostat=status) line
        if (status /= 0) line = '(empty)'
        close (u)
    end subroutine firstLine

    subroutine removeFile(fileName)
        character(len=*), intent(in) :: fileName
        integer :: u, status
        open (newunit=u, file=fileName, status='old', iostat=status)
        if (status == 0) close (u, status='delete')
    end subroutine removeFile
end program client
